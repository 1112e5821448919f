// Text, colours and fonts where the system meets Qt.
#include "runtime/qtext.h"

#include "internal.h"
#include "runtime/text.h"

#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QString>
#include <QStringList>
#include <QTranslator>

#include <algorithm>

namespace rt {

QString ToQString(std::string_view gbk)
{
    const std::string utf8 = Utf8FromGbk(gbk);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return Gbk(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace rt

namespace rt::detail {

void EnsureFontSubstitutes()
{
    static bool done = false;
    if (done || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        return;
    }
    done = true;
    // Qt takes the first installed family of each list; the CJK font comes last so that Latin
    // text keeps a Latin face while Chinese characters still find glyphs.
    const QString cjk = QStringLiteral("WenQuanYi Micro Hei");
    QFont::insertSubstitutions(QStringLiteral("Segoe UI Light"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"), cjk});
    QFont::insertSubstitutions(QStringLiteral("Segoe UI"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"), cjk});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                                QStringLiteral("DejaVu Sans"), cjk});
    QFont::insertSubstitutions(QString::fromUtf8("新宋体"),
                               {cjk, QStringLiteral("Noto Sans CJK SC"), QStringLiteral("AR PL UMing CN")});
    QFont::insertSubstitutions(QString::fromUtf8("宋体"),
                               {cjk, QStringLiteral("Noto Sans CJK SC"), QStringLiteral("AR PL UMing CN")});
}

void EnsureQtTranslations()
{
    QCoreApplication* app = QCoreApplication::instance();
    // Found by name on the shared application object: the update library's own copy of the runtime
    // must not install a second one beside the program's.
    const QString name = QStringLiteral("rt_qt_translations");
    if (app == nullptr || app->findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly) != nullptr) {
        return;
    }
    // Kept as the mark even when the catalogue is missing, so that it is looked for once per
    // application object and not again at every message box.
    auto* translator = new QTranslator(app);
    translator->setObjectName(name);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
}

QColor ToQColor(Colour colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

Colour FromQColor(const QColor& colour)
{
    return static_cast<Colour>(colour.red()) | (static_cast<Colour>(colour.green()) << 8) |
           (static_cast<Colour>(colour.blue()) << 16);
}

bool HasDesignFont(const FontDesign& design)
{
    return !design.family.empty() || design.height > 0 || design.weight != 400;
}

QFont DesignFont(const FontDesign& design, const QFont& base)
{
    QFont font = base;
    if (!design.family.empty()) {
        font.setFamilies({ToQString(design.family)});
    }
    if (design.height > 0) {
        font.setPixelSize(design.height);
    }
    font.setWeight(static_cast<QFont::Weight>(std::clamp(design.weight, 1, 1000)));
    return font;
}

QString StripMnemonic(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string ToLfBreaks(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string ToCrLfBreaks(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

}  // namespace rt::detail
