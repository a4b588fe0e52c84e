#include "qt_host.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <climits>

#include "kx/platform/drawing.h"

namespace kx::calculator {

using namespace kx::platform;

QtMessagePumpHook::QtMessagePumpHook() : thread_(QThread::currentThread()) {
  bound_.setSingleShot(true);
}

void QtMessagePumpHook::ProcessEvents(DWORD max_wait_ms) {
  if (max_wait_ms != INFINITE)
    bound_.start(static_cast<int>(std::min<DWORD>(max_wait_ms, INT_MAX)));
  // Handles what is pending, or sleeps until an event, the bound above, or Wake.
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  bound_.stop();
}

void QtMessagePumpHook::Wake() noexcept {
  // wakeUp is thread-safe and is remembered when it comes before the sleep.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread_)) {
    dispatcher->wakeUp();
  }
}

namespace {

QPixmap PixmapOf(HBITMAP bitmap) {
  if (bitmap == nullptr || bitmap->width <= 0 || bitmap->height <= 0) return {};
  QImage image(bitmap->width, bitmap->height, QImage::Format_RGB32);
  for (LONG y = 0; y < bitmap->height; ++y) {
    std::copy_n(bitmap->pixels.data() + static_cast<std::size_t>(y) * bitmap->width, bitmap->width,
                reinterpret_cast<std::uint32_t*>(image.scanLine(y)));
  }
  return QPixmap::fromImage(image);
}

// Dialog base units of the dialog's font, as the platform derives them: the average width of
// the Latin letters and the line height.
void BaseUnits(const QFont& font, int& base_x, int& base_y) {
  const QFontMetrics metrics(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  base_x = std::max(1, (metrics.horizontalAdvance(letters) / 26 + 1) / 2);
  base_y = std::max(1, metrics.height());
}

}  // namespace

QtDialogWindow::QtDialogWindow(const DialogTemplate& dialog, QWidget* owner, DialogEvents& events)
    : QDialog(owner), events_(events) {
  Qt::WindowFlags flags = Qt::Dialog;
  if ((dialog.style & WS_CAPTION) == 0) flags |= Qt::CustomizeWindowHint;  // frame, no caption
  setWindowFlags(flags);
  setWindowTitle(QString::fromStdString(dialog.title));
  setModal(true);
  centred_ = (dialog.style & DS_CENTER) != 0;

  QFont font(QString::fromStdString(dialog.font_name));
  font.setPointSize(dialog.font_points);
  setFont(font);
  int base_x = 6, base_y = 13;
  BaseUnits(font, base_x, base_y);
  const RECT size = MapDialogUnits(0, 0, dialog.cx, dialog.cy, base_x, base_y);
  setFixedSize(size.right - size.left, size.bottom - size.top);

  for (const DialogControl& control : dialog.controls) {
    const RECT place = MapDialogUnits(control.x, control.y, control.cx, control.cy, base_x, base_y);
    const QString text = QString::fromStdString(control.text);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case DialogControlKind::kPushButton:
      case DialogControlKind::kDefPushButton: {
        auto* button = new QPushButton(text, this);
        button->setDefault(control.kind == DialogControlKind::kDefPushButton);
        button->setAutoDefault(false);
        const int id = control.id;
        connect(button, &QPushButton::clicked, this, [this, id] { events_.OnCommand(id); });
        widget = button;
        break;
      }
      case DialogControlKind::kStaticText: {
        auto* label = new QLabel(text, this);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case DialogControlKind::kPicture: {
        auto* label = new QLabel(this);
        label->setPixmap(PixmapOf(control.bitmap));
        widget = label;
        break;
      }
    }
    widget->setGeometry(place.left, place.top, place.right - place.left, place.bottom - place.top);
    if (control.kind == DialogControlKind::kPicture) widget->adjustSize();  // natural size
    // Static controls let clicks through to the dialog's surface, as the platform's do.
    if (control.kind == DialogControlKind::kStaticText ||
        control.kind == DialogControlKind::kPicture) {
      widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    controls_[control.id] = widget;
  }
}

void QtDialogWindow::SetControlText(int control_id, std::string_view text) {
  const auto found = controls_.find(control_id);
  if (found == controls_.end()) return;
  const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (auto* label = qobject_cast<QLabel*>(found->second)) label->setText(value);
  if (auto* button = qobject_cast<QPushButton*>(found->second)) button->setText(value);
}

void QtDialogWindow::StartTimer(UINT_PTR timer_id, UINT interval_ms) {
  auto& timer = timers_[timer_id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    connect(timer.get(), &QTimer::timeout, this, [this, timer_id] { events_.OnTimer(timer_id); });
  }
  timer->start(static_cast<int>(std::min<UINT>(interval_ms, INT_MAX)));
}

void QtDialogWindow::StopTimer(UINT_PTR timer_id) {
  if (auto found = timers_.find(timer_id); found != timers_.end()) found->second->stop();
}

void QtDialogWindow::RunModal() {
  if (ended_) return;
  if (centred_) {
    const QScreen* screen =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) move(screen->availableGeometry().center() - rect().center());
  }
  exec();
}

void QtDialogWindow::EndModal() {
  ended_ = true;
  for (auto& [id, timer] : timers_) timer->stop();
  if (isVisible()) done(0);
}

void QtDialogWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint where = event->position().toPoint();
    events_.OnLeftButtonDown(POINT{where.x(), where.y()});
  }
  QDialog::mousePressEvent(event);
}

void QtDialogWindow::closeEvent(QCloseEvent* event) {
  if (ended_) return QDialog::closeEvent(event);
  event->ignore();
  events_.OnCloseRequest();
}

void QtDialogWindow::reject() {
  if (ended_) return QDialog::reject();
  events_.OnCloseRequest();
}

std::unique_ptr<DialogWindow> QtDialogBackend::CreateDialogWindow(const DialogTemplate& dialog,
                                                                  HWND /*owner*/,
                                                                  DialogEvents& events) {
  // The owner is a platform window with no Qt counterpart; the dialog is application-modal and
  // has no parent, so it never outlives or is deleted with a Qt widget.
  return std::make_unique<QtDialogWindow>(dialog, nullptr, events);
}

}  // namespace kx::calculator
