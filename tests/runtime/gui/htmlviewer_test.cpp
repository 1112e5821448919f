// The web view against a loopback HTTP server: pages shown, failures show nothing, and nothing but
// http or https is ever loaded.
#include "gui_test_util.h"
#include "runtime/qtext.h"

#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <map>

namespace rt {
namespace {

using test::GuiTest;
using test::WaitUntil;

// Answers each request with the canned response for its path; unknown paths get a 404.
class LoopbackServer {
public:
    LoopbackServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    quint16 Port() const { return server_.serverPort(); }
    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(Port()) + path;
    }
    void Add(const QByteArray& path, const QByteArray& response) { responses_[path] = response; }
    int Requests() const { return requests_; }

    static QByteArray Ok(const QByteArray& contentType, const QByteArray& body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

private:
    void Serve(QTcpSocket* socket)
    {
        QByteArray& buffer = pending_[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n")) {
            return;
        }
        ++requests_;
        const QByteArray path = buffer.split(' ').value(1);
        pending_.erase(socket);
        auto it = responses_.find(path);
        const QByteArray body = "not found page";
        socket->write(it != responses_.end()
                          ? it->second
                          : "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    std::map<QByteArray, QByteArray> responses_;
    std::map<QTcpSocket*, QByteArray> pending_;
    int requests_ = 0;
};

class HtmlViewerTest : public GuiTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        // A local image that a page may try to pull in.
        imagePath_ = dir_.filePath(QStringLiteral("local.png"));
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(imagePath_));

        const QByteArray local = QUrl::fromLocalFile(imagePath_).toEncoded();
        server_.Add("/page", LoopbackServer::Ok("text/html; charset=utf-8",
                                                "<html><body><p>番茄页面</p><img src=\"" + local +
                                                    "\"><a href=\"" + local + "\">link</a></body></html>"));
        server_.Add("/gbk", LoopbackServer::Ok("text/html",
                                               "<html><head><meta charset=\"gbk\"></head><body>" +
                                                   QByteArray::fromStdString(Gbk("塔维番茄")) + "</body></html>"));
        server_.Add("/to-file", "HTTP/1.1 302 Found\r\nLocation: " + local +
                                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        server_.Add("/to-page", "HTTP/1.1 302 Found\r\nLocation: /page\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");

        name_ = test::UniqueWindowName("Web");
        WindowDesign w;
        w.name = name_;
        w.width = 300;
        w.height = 200;
        w.components.push_back(DesignComponent(ComponentType::HtmlViewer, "NoticeView", 10, 10, 200, 100));
        DefineWindow(w);
        ASSERT_TRUE(LoadWindow(name_));
        viewer_ = FindComponent(name_, "NoticeView");
        ASSERT_NE(viewer_, nullptr);
        browser_ = qobject_cast<QTextBrowser*>(viewer_->Widget());
        ASSERT_NE(browser_, nullptr);
    }

    QString Shown() const { return browser_->toPlainText(); }

    QTemporaryDir dir_;
    QString imagePath_;
    LoopbackServer server_;
    std::string name_;
    Component* viewer_ = nullptr;
    QTextBrowser* browser_ = nullptr;
};

TEST_F(HtmlViewerTest, PageIsShownAndLoadsNoLocalResource)
{
    viewer_->Navigate(server_.Url("/page"));
    EXPECT_EQ(viewer_->Address(), server_.Url("/page"));
    ASSERT_TRUE(WaitUntil([&] { return Shown().contains(QString::fromUtf8("番茄页面")); }));
    EXPECT_TRUE(browser_->isReadOnly());

    // The page's local image is not read, neither through the browser nor through the document.
    const QUrl local = QUrl::fromLocalFile(imagePath_);
    for (int type : {int(QTextDocument::ImageResource), int(QTextDocument::StyleSheetResource),
                     int(QTextDocument::HtmlResource)}) {
        const QVariant resource = browser_->document()->resource(type, local);
        EXPECT_TRUE(resource.toByteArray().isEmpty());
        EXPECT_TRUE(resource.value<QImage>().isNull());
        EXPECT_TRUE(browser_->loadResource(type, local).toByteArray().isEmpty());
    }
    const QVariant data = browser_->document()->resource(
        QTextDocument::ImageResource, QUrl(QStringLiteral("data:text/plain;base64,aGVsbG8=")));
    EXPECT_TRUE(data.toByteArray().isEmpty());
}

TEST_F(HtmlViewerTest, GbkPageIsDecoded)
{
    viewer_->Navigate(server_.Url("/gbk"));
    EXPECT_TRUE(WaitUntil([&] { return Shown().contains(QString::fromUtf8("塔维番茄")); }));
}

TEST_F(HtmlViewerTest, RedirectToAnotherWebPageIsFollowed)
{
    viewer_->Navigate(server_.Url("/to-page"));
    EXPECT_TRUE(WaitUntil([&] { return Shown().contains(QString::fromUtf8("番茄页面")); }));
}

TEST_F(HtmlViewerTest, FailedOrForbiddenFetchShowsNothing)
{
    const std::string refused = [] {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return "http://127.0.0.1:" + std::to_string(probe.serverPort()) + "/";
    }();
    const std::string local = QUrl::fromLocalFile(imagePath_).toString().toStdString();
    struct Case {
        const char* what;
        std::string address;
        bool fetched;  // whether the loopback server sees a request
    };
    const Case cases[] = {
        {"404 page", server_.Url("/missing"), true},
        {"redirect to a local file", server_.Url("/to-file"), true},
        {"connection refused", refused, false},
        {"local file address", local, false},
        {"not an address", "not a url", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Start from a shown page, so that "nothing" is visible as a change.
        viewer_->Navigate(server_.Url("/page"));
        ASSERT_TRUE(WaitUntil([&] { return !Shown().isEmpty(); }));
        const int before = server_.Requests();
        viewer_->Navigate(c.address);
        EXPECT_TRUE(Shown().isEmpty());
        test::Pump(c.fetched ? 0 : 300);
        if (c.fetched) {
            EXPECT_TRUE(WaitUntil([&] { return server_.Requests() > before; }));
            test::Pump(200);
        }
        EXPECT_TRUE(Shown().isEmpty()) << Shown().toStdString();
        EXPECT_EQ(viewer_->Address(), c.address);
    }
}

}  // namespace
}  // namespace rt
