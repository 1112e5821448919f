// The web view: a page fetched over http or https and shown as rich text. The page comes from a
// server, so it never opens links and never loads a resource (no local file, no other address).
#include "internal.h"
#include "runtime/qtext.h"
#include "runtime/text.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>

namespace rt::detail {
namespace {

// Pages larger than this are treated as a failed fetch.
constexpr qint64 kMaxPageBytes = 4 * 1024 * 1024;

bool IsWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// A document that loads no resource at all. Overriding here (not in the browser) also stops the
// document's own fallback, which would otherwise read local files and data: addresses.
class ResourcelessDocument final : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return QVariant(QByteArray()); }
};

class SafeBrowser final : public QTextBrowser {
public:
    explicit SafeBrowser(QWidget* parent) : QTextBrowser(parent)
    {
        setDocument(new ResourcelessDocument(this));
        setOpenLinks(false);
        setOpenExternalLinks(false);
        setReadOnly(true);
        setUndoRedoEnabled(false);
    }

    QVariant loadResource(int, const QUrl&) override { return QVariant(QByteArray()); }
};

// The charset a page declares, in its Content-Type or in a meta element; empty when none.
QByteArray DeclaredCharset(const QByteArray& contentType, const QByteArray& body)
{
    auto after = [](const QByteArray& text, qsizetype from) {
        qsizetype end = from;
        while (end < text.size() && text[end] != ';' && text[end] != '"' && text[end] != '\'' &&
               text[end] != ' ' && text[end] != '>' && text[end] != '/') {
            ++end;
        }
        return text.mid(from, end - from).trimmed().toLower();
    };
    const QByteArray type = contentType.toLower();
    qsizetype at = type.indexOf("charset=");
    if (at >= 0) {
        return after(type, at + 8);
    }
    const QByteArray head = body.left(4096).toLower();
    at = head.indexOf("charset=");
    if (at >= 0) {
        qsizetype from = at + 8;
        while (from < head.size() && (head[from] == '"' || head[from] == '\'')) {
            ++from;
        }
        return after(head, from);
    }
    return {};
}

QString DecodePage(const QByteArray& contentType, const QByteArray& body)
{
    const QByteArray charset = DeclaredCharset(contentType, body);
    if (charset == "gbk" || charset == "gb2312" || charset == "gb18030" || charset == "cp936") {
        return ToQString(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
    }
    QStringDecoder decoder = QStringDecoder::decoderForHtml(body);
    if (!decoder.isValid()) {
        decoder = QStringDecoder(QStringDecoder::Utf8);
    }
    return decoder.decode(body);
}

class HtmlViewerComponent final : public ComponentImpl {
public:
    HtmlViewerComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design), browser_(new SafeBrowser(parent)), network_(new QNetworkAccessManager(this))
    {
        Attach(browser_);
        browser_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        browser_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        network_->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    }

    ~HtmlViewerComponent() override { Abort(); }

    void Navigate(std::string_view address) override
    {
        Abort();
        address_ = std::string(address);
        browser_->clear();
        const QUrl url(ToQString(address).trimmed());
        if (!IsWebUrl(url)) {
            return;
        }
        QNetworkRequest request(url);
        request.setMaximumRedirectsAllowed(5);
        reply_ = network_->get(request);
        QNetworkReply* reply = reply_;
        connect(reply, &QNetworkReply::redirected, this, [reply](const QUrl& target) {
            // A redirect may lead only to another web address, never to a local file.
            if (IsWebUrl(target)) {
                emit reply->redirectAllowed();
            } else {
                reply->abort();
            }
        });
        connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
            if (received > kMaxPageBytes) {
                reply->abort();
            }
        });
        connect(reply, &QNetworkReply::finished, this, [this, reply] { Finished(reply); });
    }

    std::string Address() const override { return address_; }

private:
    void Abort()
    {
        if (reply_) {
            QNetworkReply* reply = reply_;
            reply_ = nullptr;
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }

    void Finished(QNetworkReply* reply)
    {
        if (reply != reply_) {
            return;
        }
        reply_ = nullptr;
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            browser_->clear();  // a failed fetch shows nothing
            return;
        }
        const QByteArray body = reply->readAll();
        if (body.size() > kMaxPageBytes) {
            browser_->clear();
            return;
        }
        browser_->setHtml(DecodePage(reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), body));
    }

    SafeBrowser* browser_;
    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
    std::string address_;
};

}  // namespace

std::unique_ptr<ComponentImpl> CreateHtmlViewer(WindowImpl& owner, const ComponentDesign& design,
                                                QWidget* parent)
{
    return std::make_unique<HtmlViewerComponent>(owner, design, parent);
}

}  // namespace rt::detail
