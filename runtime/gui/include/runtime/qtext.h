#pragma once
// Where text meets Qt: GBK bytes to and from QString, through GB18030.

#include <string>
#include <string_view>

class QString;

namespace rt {

QString ToQString(std::string_view gbk);
std::string FromQString(const QString& text);

}  // namespace rt
