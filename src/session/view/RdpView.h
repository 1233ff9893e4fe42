// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DesktopFit.h"

#include <QElapsedTimer>
#include <QRegion>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;

namespace vandrelle {

class FreeRdpClient;

// The visible part of the RDP client: draws the remote desktop (only the
// changed areas are repainted), scaled to the widget, and sends the user's
// keyboard, mouse and wheel input to it. The remote desktop follows the
// widget's size where the server takes new sizes; where it does not, or the
// size is fixed, a picture larger than the widget is scaled down to it,
// keeping its shape, and a smaller one is drawn 1:1, centred. Sizes are the
// screen's device pixels, so a picture on a high-DPI screen is drawn sharp. Shows the client's
// disconnected text while there is no connection, as a label that a screen reader reads (also as
// the widget's description). In full screen a small bar offers to leave full screen and to
// minimize, as the client's own connection bar would.
class RdpView : public QWidget {
    Q_OBJECT
public:
    explicit RdpView(FreeRdpClient& client, QWidget* parent = nullptr);
    ~RdpView() override;

    void SetFullScreenBarVisible(bool visible);
    bool IsFullScreenBarVisible() const;
    // Whether the widget covers the screen by itself, for a container that
    // leaves full screen to the client.
    bool CoversScreen() const { return m_coversScreen; }

    // A widget position in remote desktop pixels (clamped to the desktop).
    QPoint ToRemote(QPointF position) const;

    // The desktop follows the widget's size as `mode` says (a fixed mode
    // never asks); `sized` hears each size asked for (`asked` true) and each
    // new size of the picture (false), in remote pixels.
    using SizeHandler = std::function<void(QSize size, bool asked)>;
    void FollowArea(DesktopMode mode, SizeHandler sized);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QSize RemoteSize() const;
    QSize DeviceArea() const;
    PicturePlacement Placement(QSize desktop) const;
    QRectF PictureRect(const PicturePlacement& placement) const;
    void ApplyScreenScale();
    void AreaChanged();
    void SettleResize();
    void ArmSettle();
    void AskDesktop(PixelSize size);
    QRect ToWidget(QRect remote) const;
    void SendMouseButton(QMouseEvent* event, bool down);
    void ReleaseAllKeys();
    void MakeBar();
    void PlaceBar();
    void CoverScreen(bool on);
    void FrameChanged(QRect area);
    void RepaintChanges();
    void UpdateKeyboardGrab();
    void ShowDisconnectedText();

    FreeRdpClient& m_client;
    QSet<quint32> m_keysDown;  // native key codes pressed and not released yet
    QWidget* m_bar = nullptr;
    QLabel* m_message = nullptr;
    static constexpr qint64 kRepaintMs = 16;  // about one frame of a 60 Hz display
    QRegion m_changed;                        // not yet painted
    QTimer m_repaintTimer;
    QElapsedTimer m_sinceRepaint;
    bool m_coversScreen = false;
    DesktopMode m_mode{DesktopMode::Kind::Fixed};
    SizeHandler m_sized;
    ResizePacer m_pacer;
    QTimer m_settleTimer;
    QSize m_shownSize;  // the picture's size when last painted or told
    QRect m_placeBeforeFullScreen;
};

}  // namespace vandrelle
