// The worker's HTTP exchange: request record in, one plain-HTTP exchange, reply record out, then
// the cookies the server set go to the cookie store.

#include <optional>
#include <string>

#include "http_request.h"
#include "runtime/byteset.h"
#include "runtime/http.h"
#include "runtime/memfile.h"
#include "runtime/text.h"
#include "url.h"

namespace update {
namespace {

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr const char* kProxyPrefix = "http=";
constexpr const char* kHttpVersion = "HTTP/1.1";
constexpr const char* kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
constexpr const char* kAcceptLanguageLine = "Accept-Language: zh-cn\r\n";
constexpr const char* kContentTypeLine = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr const char* kCookieKey = "Set-Cookie: ";
constexpr int kChunkBytes = 512;
constexpr int kRawHeaderBytes = 1024;

// True when the text is empty once every half-width and full-width space is removed.
bool IsBlank(std::string_view text) { return rt::RemoveAllSpaces(text).empty(); }

// True when the text contains the key, ignoring the case of ASCII letters.
bool Contains(std::string_view text, std::string_view key) { return rt::FindText(text, key, 1, true) > 0; }

std::optional<std::string_view> Unless(bool blank, std::string_view text) {
    if (blank) return std::nullopt;
    return text;
}

// Hands every Set-Cookie line of the raw header text to the cookie store for the host.
void StoreCookies(const std::string& rawHeaders, const std::string& host) {
    const int file = rt::OpenMemoryFile();
    rt::WriteText(file, rawHeaders);
    rt::SeekToStart(file);
    while (!rt::AtEndOfFile(file)) {
        const std::int64_t before = rt::FilePosition(file);
        const std::string line = rt::ReadLine(file);
        if (rt::FilePosition(file) == before) {
            // ReadLine stops in front of a 0x1A (or NUL) byte without passing it: step over it, so
            // the loop reaches the end for every header text.
            rt::ReadByteSet(file, 1);
            continue;
        }
        if (!Contains(line, kCookieKey)) continue;
        const std::string rest = rt::TextRight(line, rt::TextLength(line) - 12);
        const int eq = rt::FindText(rest, "=", 1, true);
        std::optional<std::string> name;
        std::string data;
        if (eq > 0) {
            name = rt::TextLeft(rest, eq - 1);
            data = rt::TextRight(rest, rt::TextLength(rest) - eq);
        } else {
            data = rest;
        }
        rt::net::SetCookie("http://" + host, name ? std::optional<std::string_view>(*name) : std::nullopt, data);
    }
    rt::CloseFile(file);
}

}  // namespace

int HttpWorkerMain(int file, std::shared_ptr<rt::net::AbortSignal> abort) {
    if (file == 0) return 0;
    rt::SeekToStart(file);
    std::string tag;
    rt::ReadValues(file, tag);
    if (tag != kRequestTag) return 0;
    std::string address, verb, proxy, userName, password, extraHeaders, postData;
    rt::ReadValues(file, address, verb, proxy, userName, password, extraHeaders, postData);
    rt::SeekToStart(file);
    rt::DeleteFileData(file, rt::FileLength(file));

    const std::string host = UrlHost(address);
    const std::string path = UrlPath(address);

    // The proxy serves HTTP requests only.
    const bool direct = IsBlank(proxy);
    const std::string proxySetting = kProxyPrefix + proxy;
    std::unique_ptr<rt::net::Session> session =
        direct ? rt::net::Session::Open(kAgent, rt::net::kOpenTypeDirect, std::nullopt)
               : rt::net::Session::Open(kAgent, rt::net::kOpenTypeProxy, proxySetting);
    if (!session) return 0;
    session->SetAbortSignal(abort);
    session->SetMaxBodyBytes(kMaxReplyBodyBytes);

    const int port = UrlPort(address);
    // Declared in this order, the handles close request first, then connection, then session.
    std::unique_ptr<rt::net::Connection> connection = rt::net::Connection::Open(
        *session, host, port, Unless(IsBlank(userName), userName), Unless(IsBlank(password), password));
    if (!connection) return 0;
    std::unique_ptr<rt::net::Request> request = rt::net::Request::Open(
        *connection, verb.empty() ? std::nullopt : std::optional<std::string_view>(verb), path, kHttpVersion,
        rt::net::kFlagReload);
    if (!request) return 0;

    std::string headers = extraHeaders;
    if (!Contains(headers, "Accept: ")) headers += kAcceptLine;
    if (!Contains(headers, "Referer: ")) headers += "Referer: " + address + "\r\n";
    if (!Contains(headers, "Accept-Language: ")) headers += kAcceptLanguageLine;

    const std::string upperVerb = rt::ToUpper(verb);
    if (verb.empty() || upperVerb == "GET") {
        request->Send(headers, {});
    } else if (upperVerb == "POST") {
        if (!postData.empty()) {
            if (!Contains(headers, "Content-Type: ")) headers += kContentTypeLine;
            headers += "Content-Length: " + rt::ToText(rt::TextLength(postData)) + "\r\n";
            request->Send(headers, postData);
        } else {
            request->Send(headers, {});
        }
    } else {
        return 0;
    }

    // The body, in chunks; a read that delivers nothing (its end, or a failure) ends it.
    const int bodyFile = rt::OpenMemoryFile();
    for (;;) {
        rt::ByteSet chunk = rt::ZeroByteSet(kChunkBytes);
        std::uint32_t n = 0;
        request->Read(chunk.data(), kChunkBytes, n);
        if (n == 0) break;
        rt::WriteByteSets(bodyFile, rt::ByteSetLeft(chunk, static_cast<int>(n)));
    }

    // The raw headers stay 1,024 spaces when the block and its NUL do not fit, or nothing came.
    std::string rawHeaders = rt::BlankText(kRawHeaderBytes);
    std::uint32_t length = kRawHeaderBytes;
    request->QueryRawHeaders(rawHeaders.data(), length);
    rawHeaders.resize(rawHeaders.find('\0') == std::string::npos ? rawHeaders.size() : rawHeaders.find('\0'));

    rt::SeekToStart(bodyFile);
    const rt::ByteSet body = rt::ReadByteSet(bodyFile, rt::FileLength(bodyFile));
    rt::CloseFile(bodyFile);
    rt::SeekToStart(file);
    rt::WriteValues(file, std::string_view(kReplyTag), rawHeaders, body);

    request.reset();
    connection.reset();
    session.reset();

    if (Contains(rawHeaders, kCookieKey)) StoreCookies(rawHeaders, host);
    return 1;
}

}  // namespace update
