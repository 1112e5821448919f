#include "colour_key.h"

#include <QtCore/QEvent>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QImage>
#include <QtGui/QPixmap>
#include <QtWidgets/QWidget>

namespace rt::x11 {

namespace {

constexpr const char* kKeyerName = "rt-colour-key";

// The runs of non-key pixels of one row, as (start, end) pairs.
std::vector<std::pair<int, int>> RowRuns(const QImage& image, int y, QRgb key) {
    std::vector<std::pair<int, int>> runs;
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    const int width = image.width();
    int x = 0;
    while (x < width) {
        while (x < width && (line[x] & 0xFFFFFFu) == key) ++x;
        const int start = x;
        while (x < width && (line[x] & 0xFFFFFFu) != key) ++x;
        if (x > start) runs.emplace_back(start, x);
    }
    return runs;
}

// Owns one window's key: a child of the window that watches it and reshapes it after each
// repaint, so that the see-through pixels follow the content as Windows' colour key does.
class ColourKeyer final : public QObject {
public:
    ColourKeyer(QWidget* window, _XDisplay* display, QRgb key)
        : QObject(window), window_(window), display_(display), key_(key) {
        setObjectName(QString::fromLatin1(kKeyerName));
        window->installEventFilter(this);
    }

    void SetKey(QRgb key) {
        key_ = key;
        shaped_ = false;
        Reshape();
    }

    void Reshape() {
        pending_ = false;
        if (grabbing_ || window_.isNull()) return;
        grabbing_ = true;  // the grab paints the window; those paints must not schedule another
        const QImage image = window_->grab().toImage().convertToFormat(QImage::Format_RGB32);
        grabbing_ = false;
        std::vector<Rect> rectangles = OpaqueRectangles(image, key_);
        if (shaped_ && rectangles == last_) return;
        SetShape(display_, static_cast<XWindowId>(window_->winId()), rectangles);
        last_ = std::move(rectangles);
        shaped_ = true;
    }

    void Clear() {
        if (!window_.isNull()) ClearShape(display_, static_cast<XWindowId>(window_->winId()));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && !grabbing_) {
            switch (event->type()) {
            case QEvent::UpdateRequest:  // a repaint of the window or of any child
            case QEvent::Show:
            case QEvent::Resize:
                Schedule();
                break;
            default:
                break;
            }
        }
        return false;
    }

private:
    // Reshapes once the current repaint has been handled; several requests make one reshape.
    void Schedule() {
        if (pending_) return;
        pending_ = true;
        QTimer::singleShot(0, this, [this] { Reshape(); });
    }

    QPointer<QWidget> window_;
    _XDisplay* display_;
    QRgb key_;
    std::vector<Rect> last_;
    bool shaped_ = false;
    bool pending_ = false;
    bool grabbing_ = false;
};

ColourKeyer* KeyerOf(QWidget* window) {
    return dynamic_cast<ColourKeyer*>(
        window->findChild<QObject*>(QString::fromLatin1(kKeyerName), Qt::FindDirectChildrenOnly));
}

}  // namespace

std::vector<Rect> OpaqueRectangles(const QImage& source, QRgb key) {
    const QImage image = source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
                             ? source
                             : source.convertToFormat(QImage::Format_RGB32);
    key &= 0xFFFFFFu;
    std::vector<Rect> rectangles;
    std::vector<std::pair<int, int>> previous;
    std::vector<std::size_t> open;  // indices in rectangles of the previous row's runs
    for (int y = 0; y < image.height(); ++y) {
        std::vector<std::pair<int, int>> runs = RowRuns(image, y, key);
        if (runs == previous) {
            for (std::size_t i : open) ++rectangles[i].height;
            continue;
        }
        open.clear();
        for (const auto& [start, end] : runs) {
            open.push_back(rectangles.size());
            rectangles.push_back(Rect{start, y, end - start, 1});
        }
        previous = std::move(runs);
    }
    return rectangles;
}

void ApplyColourKey(QWidget* window, _XDisplay* display, QRgb key) {
    if (ColourKeyer* keyer = KeyerOf(window)) {
        keyer->SetKey(key);
        return;
    }
    (new ColourKeyer(window, display, key))->Reshape();
}

void RemoveColourKey(QWidget* window) {
    if (ColourKeyer* keyer = KeyerOf(window)) {
        keyer->Clear();
        delete keyer;
    }
}

}  // namespace rt::x11
