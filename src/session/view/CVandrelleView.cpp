// SPDX-License-Identifier: GPL-3.0-or-later
#include "CVandrelleView.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace vandrelle {

CVandrelleView::CVandrelleView(const ClientHostFactory& hosts, MessageTarget& frame,
                               QWidget* frameWindow, const CConfigStore& config, KeyStore& keys,
                               Properties record, const PathBuffer& serverPath, QWidget* parent)
    : QWidget(parent), m_frame(frame), m_frameWindow(frameWindow), m_serverPath(serverPath) {
    setObjectName(QStringLiteral("sessionView"));
    m_host = hosts(this);
    QWidget* picture = m_host->Widget();
    picture->setAccessibleName(tr("Remote desktop of %1").arg(QString::fromStdString(record.Name)));
    setFocusProxy(picture);
    m_host->FollowArea(
        DesktopMode::FromRecord(record.DesktopWidth, record.DesktopHeight, record.FullScreen),
        [this](int width, int height) {
            if (m_desktopSize == QSize(width, height)) return;
            m_desktopSize = QSize(width, height);
            Q_EMIT desktopSizeChanged();
        });
    m_session = std::make_unique<Session>(&m_host->Client(), *this, frame, config, keys,
                                          std::move(record), NodePathFromBuffer(serverPath));
}

// The session disconnects while its client is still there to be told.
CVandrelleView::~CVandrelleView() {
    m_session->Destroy();
    m_session.reset();
    m_host.reset();
}

void CVandrelleView::OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
    m_session->OnDeviceChange(wParam, lParam);
}

void CVandrelleView::ReleaseWindowsKeys() {
    if (m_session->State() == kStateConnected) m_host->ReleaseWindowsKeys();
}

// Posted messages are dropped with the window when it goes first.
void CVandrelleView::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    QMetaObject::invokeMethod(
        this, [this, message, wParam, lParam] { Send(message, wParam, lParam); },
        Qt::QueuedConnection);
}

std::intptr_t CVandrelleView::Send(std::uint32_t message, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
    bool handled = false;
    return m_session->HandleMessage(message, wParam, lParam, handled);
}

void CVandrelleView::PostToSelf(std::uint32_t message, int delayMs, std::uintptr_t wParam) {
    QTimer::singleShot(delayMs, this, [this, message, wParam] { Send(message, wParam, 0); });
}

// In the screen's device pixels: a desktop of that size is drawn 1:1, sharp
// on a high-DPI screen.
Size CVandrelleView::ClientSize() const {
    const qreal ratio = devicePixelRatioF();
    return {qRound(width() * ratio), qRound(height() * ratio)};
}

// The screen the window is on: full screen covers that one.
const QScreen* CVandrelleView::Screen() const {
    return screen() ? screen() : QGuiApplication::primaryScreen();
}

Size CVandrelleView::PrimaryScreenSize() const {
    const QScreen* s = Screen();
    if (!s) return {};
    const qreal ratio = s->devicePixelRatio();
    return {qRound(s->size().width() * ratio), qRound(s->size().height() * ratio)};
}

// The window leaves its tab for the main window, which covers the screen,
// and lies over everything in it until the session leaves full screen.
void CVandrelleView::EnterContainerFullScreen() {
    if (m_containerFullScreen || !m_frameWindow) return;
    m_savedRect = geometry();
    m_savedParent = parentWidget();
    setParent(m_frameWindow);
    m_frameWindow->installEventFilter(this);
    m_frame.Send(WM_APP_FULL_SCREEN, 1, WindowId());
    if (const QScreen* s = Screen()) setGeometry(QRect(QPoint(0, 0), s->size()));
    show();
    raise();
    m_containerFullScreen = true;
    m_host->SetFullScreenBarVisible(true);
    m_host->Widget()->setFocus();
}

void CVandrelleView::LeaveContainerFullScreen() {
    if (!m_containerFullScreen) return;
    if (m_frameWindow) m_frameWindow->removeEventFilter(this);
    setParent(m_savedParent);
    setGeometry(m_savedRect);
    show();
    m_frame.Send(WM_APP_FULL_SCREEN, 0, WindowId());
    m_containerFullScreen = false;
    m_host->SetFullScreenBarVisible(false);
}

// While covering the screen the window follows the main window's size.
bool CVandrelleView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_frameWindow && event->type() == QEvent::Resize && m_containerFullScreen) {
        setGeometry(QRect(QPoint(0, 0), static_cast<QResizeEvent*>(event)->size()));
    }
    return QWidget::eventFilter(watched, event);
}

// A connected client lays itself out again when its window changes size.
void CVandrelleView::Relayout() {
    const QRect place = geometry();
    setGeometry(place.adjusted(0, 0, 0, 1));
    setGeometry(place);
}

void CVandrelleView::resizeEvent(QResizeEvent* event) {
    m_host->Widget()->setGeometry(QRect(QPoint(0, 0), event->size()));
    if (m_heldPicture) m_heldPicture->setGeometry(m_host->Widget()->geometry());
}

// The picture as it was when the link went, greyed, covers the live widget:
// it stays through fresh connects (which have no picture until they are
// through), and it takes the keyboard focus and the mouse, so that no input
// reaches a dead link. A screen reader reads the status as its description.
void CVandrelleView::ShowLinkDown(bool down, const std::string& status) {
    QWidget* live = m_host->Widget();
    if (!down) {
        if (!m_heldPicture) return;
        const bool hadFocus = m_heldPicture->hasFocus();
        setFocusProxy(live);
        delete m_heldPicture;
        if (hadFocus) live->setFocus();
        return;
    }
    if (!m_heldPicture) {
        QImage grey = live->grab().toImage().convertToFormat(QImage::Format_Grayscale8);
        // Lighter as well as grey: the picture is only a reminder now.
        for (int y = 0; y < grey.height(); ++y) {
            uchar* line = grey.scanLine(y);
            for (int x = 0; x < grey.width(); ++x) line[x] = static_cast<uchar>(128 + line[x] / 2);
        }
        m_heldPicture = new QLabel(this);
        m_heldPicture->setObjectName(QStringLiteral("heldPicture"));
        m_heldPicture->setPixmap(QPixmap::fromImage(grey));
        m_heldPicture->setScaledContents(true);
        m_heldPicture->setFocusPolicy(Qt::StrongFocus);
        m_heldPicture->setAccessibleName(live->accessibleName());
        m_heldPicture->setGeometry(live->geometry());
        m_heldPicture->show();
        m_heldPicture->raise();
        const bool hadFocus = live->hasFocus();
        setFocusProxy(m_heldPicture);
        if (hadFocus) m_heldPicture->setFocus();
    }
    m_heldPicture->setAccessibleDescription(QString::fromStdString(status));
    m_heldPicture->setToolTip(QString::fromStdString(status));
}

// Not run on the stack: a box's event loop inside the session would let the
// tab close (a remote log-off, the program's end) and the session go while
// it still runs. The box is the view's child, so it goes with the tab.
void CVandrelleView::ShowError(const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::Critical, tr("Error"), QString::fromStdString(text),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool CVandrelleView::IsShiftDown() const {
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

std::intptr_t CVandrelleView::WindowId() const {
    return reinterpret_cast<std::intptr_t>(static_cast<const QWidget*>(this));
}

}  // namespace vandrelle
