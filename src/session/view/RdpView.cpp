// SPDX-License-Identifier: GPL-3.0-or-later
#include "RdpView.h"

#include "FreeRdpClient.h"

#include <QtGui/qguiapplication_platform.h>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

#include <dlfcn.h>

#include <chrono>
#include <cmath>

#include <optional>

namespace vandrelle {
namespace {

// The lock keys' indicators on X11 (bit 0 Caps Lock, 1 Num Lock, 2 Scroll
// Lock); nullopt where the platform does not tell. Xlib is already loaded by
// the platform plug-in; it is looked up rather than linked.
std::optional<unsigned> LockIndicators() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display()) return std::nullopt;
    using Query = int (*)(Display*, unsigned, unsigned*);
    static const Query query = [] {
        void* xlib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
        return xlib ? reinterpret_cast<Query>(::dlsym(xlib, "XkbGetIndicatorState")) : nullptr;
    }();
    unsigned state = 0;
    constexpr unsigned kUseCoreKeyboard = 0x100;
    if (!query || query(x11->display(), kUseCoreKeyboard, &state) != 0) return std::nullopt;
    return state;
}

}  // namespace

RdpView::RdpView(FreeRdpClient& client, QWidget* parent) : QWidget(parent), m_client(client) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    m_repaintTimer.setSingleShot(true);
    m_repaintTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_repaintTimer, &QTimer::timeout, this, &RdpView::RepaintChanges);
    m_client.SetFrameChangedHandler(
        [this](FrameArea a) { FrameChanged(ToWidget(QRect(a.x, a.y, a.width, a.height))); });
    m_client.SetFullScreenHandler([this](bool on) { CoverScreen(on); });
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_settleTimer, &QTimer::timeout, this, &RdpView::SettleResize);
    m_client.SetDesktopResizableHandler([this] {
        const QSize desktop = RemoteSize();
        m_pacer.Connected({desktop.width(), desktop.height()});
        AreaChanged();
    });
    ApplyScreenScale();

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("disconnectedText"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_message->setContentsMargins(16, 16, 16, 16);
    m_message->hide();
    m_client.SetDisconnectedTextHandler([this] { ShowDisconnectedText(); });

    // Clipboard text both ways; the client drops the echo of what it just set.
    QClipboard* clipboard = QGuiApplication::clipboard();
    connect(clipboard, &QClipboard::dataChanged, this,
            [this, clipboard] { m_client.SetLocalClipboardText(clipboard->text().toStdString()); });
    m_client.SetLocalClipboardText(clipboard->text().toStdString());
    m_client.SetRemoteClipboardHandler([](const std::string& text) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    });
}

RdpView::~RdpView() {
    m_client.SetFrameChangedHandler({});
    m_client.SetFullScreenHandler({});
    m_client.SetRemoteClipboardHandler({});
    m_client.SetDisconnectedTextHandler({});
    m_client.SetDesktopResizableHandler({});
}

void RdpView::FollowArea(DesktopMode mode, SizeHandler sized) {
    m_mode = mode;
    m_sized = std::move(sized);
}

// The server learns the scale at the connect and with each size asked for;
// a window moved to a screen of another scale asks for its size again.
void RdpView::ApplyScreenScale() {
    const ScaleFactors scale = ScaleFactorsFor(devicePixelRatioF());
    m_client.SetScreenScale(scale.desktop, scale.device);
}

bool RdpView::event(QEvent* event) {
    if (event->type() == QEvent::ScreenChangeInternal) {
        ApplyScreenScale();
        m_pacer.Connected({});  // the same size may need asking for, at the new scale
        AreaChanged();
        update();
    }
    return QWidget::event(event);
}

QSize RdpView::DeviceArea() const {
    const qreal ratio = devicePixelRatioF();
    return {qRound(width() * ratio), qRound(height() * ratio)};
}

// While a drag goes on, the pacer lets one size through per interval and
// keeps the last; the settle timer sends that one when the interval is up.
void RdpView::AreaChanged() {
    if (!m_mode.FollowsArea() || !m_client.CanResizeDesktop()) return;
    const QSize area = DeviceArea();
    if (area.isEmpty()) return;
    const PixelSize wanted = RequestedDesktop(m_mode, {area.width(), area.height()});
    if (const auto size = m_pacer.Changed(wanted, ResizePacer::Clock::now())) AskDesktop(*size);
    ArmSettle();
}

void RdpView::SettleResize() {
    if (const auto size = m_pacer.Settle(ResizePacer::Clock::now())) AskDesktop(*size);
    ArmSettle();  // a timer that fired early finds the size still waiting
}

void RdpView::ArmSettle() {
    const auto due = m_pacer.Due();
    if (!due) return;
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(*due - ResizePacer::Clock::now());
    m_settleTimer.start(std::max<int>(0, int(wait.count())));
}

void RdpView::AskDesktop(PixelSize size) {
    m_client.RequestDesktopSize(size.width, size.height);
    if (m_sized) m_sized(QSize(size.width, size.height), true);
}

// Shown at once when it changes, not at the next repaint of the widget.
void RdpView::ShowDisconnectedText() {
    const QString text = m_client.HasConnection()
                             ? QString()
                             : QString::fromStdString(m_client.CurrentValues().disconnectedText);
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
    setAccessibleDescription(text);
    update();
}

// Made when first needed: a session that never covers the screen does not
// pay for the bar's widgets and fonts.
void RdpView::MakeBar() {
    m_bar = new QWidget(this);
    m_bar->setObjectName(QStringLiteral("fullScreenBar"));
    m_bar->setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(m_bar);
    layout->setContentsMargins(4, 2, 4, 2);
    auto* minimize = new QToolButton(m_bar);
    minimize->setObjectName(QStringLiteral("minimizeButton"));
    minimize->setText(tr("Minimize"));
    auto* leave = new QToolButton(m_bar);
    leave->setObjectName(QStringLiteral("leaveFullScreenButton"));
    leave->setText(tr("Leave full screen"));
    layout->addWidget(minimize);
    layout->addWidget(leave);
    connect(minimize, &QToolButton::clicked, this, [this] {
        if (m_client.CurrentValues().containerHandledFullScreen) {
            m_client.RequestContainerMinimize();
        } else {
            window()->showMinimized();
        }
    });
    connect(leave, &QToolButton::clicked, this, [this] { m_client.RequestLeaveFullScreen(); });
}

void RdpView::SetFullScreenBarVisible(bool visible) {
    if (!m_bar && !visible) return;
    if (!m_bar) MakeBar();
    m_bar->setVisible(visible);
    if (visible) {
        PlaceBar();
        m_bar->raise();
    }
}

bool RdpView::IsFullScreenBarVisible() const {
    return m_bar && m_bar->isVisible();
}

// The widget leaves its place for a window of its own over the whole screen,
// and comes back to the same place and size.
void RdpView::CoverScreen(bool on) {
    if (on == m_coversScreen) return;
    m_coversScreen = on;
    if (QWindow* w = window()->windowHandle()) w->setKeyboardGrabEnabled(false);
    if (on) {
        m_placeBeforeFullScreen = geometry();
        setWindowFlag(Qt::Window, true);
        showFullScreen();
    } else {
        setWindowFlag(Qt::Window, false);
        setGeometry(m_placeBeforeFullScreen);
        show();
    }
    SetFullScreenBarVisible(on);
    if (hasFocus()) UpdateKeyboardGrab();
}

void RdpView::PlaceBar() {
    m_bar->adjustSize();
    m_bar->move((width() - m_bar->width()) / 2, 0);
}

QSize RdpView::RemoteSize() const {
    QSize size;
    m_client.WithFrame([&](const FrameView& f) { size = QSize(f.width, f.height); });
    return size;
}

// Where a desktop of that size is drawn in the widget's area (device pixels).
PicturePlacement RdpView::Placement(QSize desktop) const {
    const QSize area = DeviceArea();
    return {{desktop.width(), desktop.height()}, {area.width(), area.height()}};
}

// The picture's place in widget coordinates.
QRectF RdpView::PictureRect(const PicturePlacement& placement) const {
    const qreal ratio = devicePixelRatioF();
    return {placement.Origin().x / ratio, placement.Origin().y / ratio,
            placement.Shown().width / ratio, placement.Shown().height / ratio};
}

QRect RdpView::ToWidget(QRect remote) const {
    const QSize r = RemoteSize();
    if (r.isEmpty()) return rect();
    const QRectF picture = PictureRect(Placement(r));
    const double sx = picture.width() / r.width(), sy = picture.height() / r.height();
    // One pixel of slack on each side covers the rounding of the scaled picture.
    return QRect(int(picture.x() + remote.x() * sx) - 1, int(picture.y() + remote.y() * sy) - 1,
                 int(remote.width() * sx) + 3, int(remote.height() * sy) + 3);
}

QPoint RdpView::ToRemote(QPointF position) const {
    const PicturePlacement placement = Placement(RemoteSize());
    if (placement.Shown().width <= 0) return {};
    const qreal ratio = devicePixelRatioF();
    const PixelPoint p = placement.ToDesktop(
        {int(std::floor(position.x() * ratio)), int(std::floor(position.y() * ratio))});
    return {p.x, p.y};
}

// A server sends a changing picture in many small pieces, thousands a second;
// painting each on its own costs more than the pixels. Changes are gathered
// and painted at most once a display frame: at once after a quiet spell,
// else when the frame's time is up.
void RdpView::FrameChanged(QRect area) {
    const QSize desktop = RemoteSize();
    if (desktop != m_shownSize) {
        // A new desktop size moves the picture and its borders.
        m_shownSize = desktop;
        area = rect();
        if (m_sized && !desktop.isEmpty()) m_sized(desktop, false);
    }
    m_changed += area;
    // Scattered pieces cost more to track than to paint over.
    if (m_changed.rectCount() > 64) m_changed = m_changed.boundingRect();
    if (m_repaintTimer.isActive()) return;
    const qint64 since = m_sinceRepaint.isValid() ? m_sinceRepaint.elapsed() : kRepaintMs;
    m_repaintTimer.start(int(std::max<qint64>(0, kRepaintMs - since)));
}

void RdpView::RepaintChanges() {
    update(m_changed);
    m_changed = {};
    m_sinceRepaint.start();
}

// The raster engine hands a copy of more than about 96 rows to its thread
// pool in pieces and waits for them; with the engine's own thread busy
// decoding, the thread switches cost more than the copy. Bands of fewer rows
// are copied in place.
constexpr int kBandRows = 64;

void RdpView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const bool drawn = m_client.WithFrame([&](const FrameView& f) {
        const QImage image(f.pixels, f.width, f.height, f.stride, QImage::Format_RGB32);
        const PicturePlacement placement = Placement(QSize(f.width, f.height));
        const QRectF picture = PictureRect(placement);
        if (placement.Scaled()) painter.setRenderHint(QPainter::SmoothPixmapTransform);
        // Widget coordinates to picture pixels.
        const double sx = f.width / picture.width(), sy = f.height / picture.height();
        for (const QRect& target : event->region()) {
            for (int top = target.top(); top <= target.bottom(); top += kBandRows) {
                const QRectF band = QRectF(target.left(), top, target.width(),
                                           std::min(kBandRows, target.bottom() + 1 - top))
                                        .intersected(picture);
                if (band.isEmpty()) continue;
                const QRectF source((band.x() - picture.x()) * sx, (band.y() - picture.y()) * sy,
                                    band.width() * sx, band.height() * sy);
                painter.drawImage(band, image, source);
            }
        }
        painter.setClipRegion(event->region() - picture.toAlignedRect());
        painter.fillRect(rect(), Qt::black);
    });
    if (!drawn) painter.fillRect(rect(), palette().window());
}

void RdpView::resizeEvent(QResizeEvent*) {
    m_message->setGeometry(rect());
    if (IsFullScreenBarVisible()) PlaceBar();
    AreaChanged();
}

// Every key belongs to a connected session but Ctrl+Alt+Enter in full screen,
// which leaves it as the bar's button does (FreeRDP's own client's key);
// without a session the keys go on to the window, as from any other page.
void RdpView::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && IsFullScreenBarVisible() &&
        (event->modifiers() & ~Qt::KeypadModifier) == (Qt::ControlModifier | Qt::AltModifier)) {
        m_client.RequestLeaveFullScreen();
        return;
    }
    const quint32 code = event->nativeScanCode();
    if (!m_client.IsConnected()) {
        event->ignore();
        return;
    }
    if (code == 0) return;
    m_keysDown.insert(code);
    m_client.SendKey(code, true, event->isAutoRepeat());
}

void RdpView::keyReleaseEvent(QKeyEvent* event) {
    const quint32 code = event->nativeScanCode();
    if (!m_client.IsConnected()) {
        m_keysDown.remove(code);
        event->ignore();
        return;
    }
    if (code == 0 || event->isAutoRepeat()) return;
    m_keysDown.remove(code);
    m_client.SendKey(code, false);
}

void RdpView::ReleaseAllKeys() {
    for (const quint32 code : std::as_const(m_keysDown)) m_client.SendKey(code, false);
    m_keysDown.clear();
}

void RdpView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = ToRemote(event->position());
    m_client.SendMouseMove(p.x(), p.y());
}

void RdpView::SendMouseButton(QMouseEvent* event, bool down) {
    FreeRdpClient::Button button;
    switch (event->button()) {
        case Qt::LeftButton:
            button = FreeRdpClient::Button::Left;
            break;
        case Qt::RightButton:
            button = FreeRdpClient::Button::Right;
            break;
        case Qt::MiddleButton:
            button = FreeRdpClient::Button::Middle;
            break;
        default:
            return;
    }
    const QPoint p = ToRemote(event->position());
    m_client.SendMouseButton(button, down, p.x(), p.y());
}

void RdpView::mousePressEvent(QMouseEvent* event) {
    SendMouseButton(event, true);
}
void RdpView::mouseReleaseEvent(QMouseEvent* event) {
    SendMouseButton(event, false);
}

void RdpView::wheelEvent(QWheelEvent* event) {
    const QPoint p = ToRemote(event->position());
    const QPoint delta = event->angleDelta();
    if (delta.y() != 0) m_client.SendWheel(delta.y(), false, p.x(), p.y());
    if (delta.x() != 0) m_client.SendWheel(delta.x(), true, p.x(), p.y());
}

void RdpView::focusInEvent(QFocusEvent*) {
    // The remote lock keys follow the local ones whenever the session gets the keyboard.
    if (const auto locks = LockIndicators()) {
        m_client.SendLockState(*locks & 1, *locks & 2, *locks & 4);
    }
    UpdateKeyboardGrab();
}

void RdpView::UpdateKeyboardGrab() {
    // Windows key combinations go to the remote computer while the session
    // has the focus, unless the user keeps them local (mode 0) or wants them
    // remote only in full screen (mode 2).
    const int mode = m_client.CurrentValues().keyboardHookMode;
    if (QWindow* w = window()->windowHandle()) {
        w->setKeyboardGrabEnabled(mode == 1 || (mode == 2 && IsFullScreenBarVisible()));
    }
}

void RdpView::focusOutEvent(QFocusEvent*) {
    ReleaseAllKeys();
    if (QWindow* w = window()->windowHandle()) w->setKeyboardGrabEnabled(false);
}

// Tab and Shift+Tab belong to a connected session's remote desktop.
bool RdpView::focusNextPrevChild(bool next) {
    return !m_client.IsConnected() && QWidget::focusNextPrevChild(next);
}

}  // namespace vandrelle
