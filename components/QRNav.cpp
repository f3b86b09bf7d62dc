#include "components/QRNav.h"

#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <algorithm>

#include "framework/QRFormLoader.h"
#include "framework/QRPalette.h"
#include "framework/QRResources.h"

namespace {

constexpr int kButtonCount = 9;
constexpr int kInitialWidth = 241;
constexpr int kInitialHeight = 25;

// The word of each button in its bitmap's name, by ordinal.
constexpr const char* kBitmapWords[kButtonCount] = {"FIRST",  "PRIOR", "NEXT",   "LAST",   "INSERT",
                                                    "DELETE", "POST",  "CANCEL", "REFRESH"};

[[maybe_unused]] const bool kRegistered = [] {
  QRRegisterComponentClass<TNDBNavigator>();
  return true;
}();

TNDNavigateBtn Nth(int ordinal) { return static_cast<TNDNavigateBtn>(ordinal); }

// The enabled and disabled glyphs of a bitmap holding both side by side; an empty icon when
// the bitmap is missing.
QIcon GlyphsOf(const QPixmap& bitmap) {
  QIcon icon;
  if (bitmap.isNull()) return icon;
  const int width = bitmap.width() / 2;
  icon.addPixmap(bitmap.copy(ngEnabled * width, 0, width, bitmap.height()), QIcon::Normal);
  icon.addPixmap(bitmap.copy(ngDisabled * width, 0, width, bitmap.height()), QIcon::Disabled);
  return icon;
}

}  // namespace

void QRNav::Register() { RegisterComponents(QStringLiteral("Quire"), {&TNDBNavigator::staticMetaObject}); }

// ---- TNDButton

TNDButton::TNDButton(TNDBNavigator* navigator) : QToolButton(navigator), navigator_(navigator) {
  // The navigator takes the focus for its buttons and draws the mark on the focused one.
  setFocusPolicy(Qt::NoFocus);
  setToolButtonStyle(Qt::ToolButtonIconOnly);
}

TNDButton::~TNDButton() = default;

void TNDButton::paintEvent(QPaintEvent* event) {
  QToolButton::paintEvent(event);
  if (!navigator_->hasFocus() || navigator_->FFocusedButton != FIndex) return;
  QRect mark = rect().adjusted(3, 3, -3, -3);
  if (isDown()) mark.translate(1, 1);
  QPainter painter(this);
  painter.setPen(QPen(palette().color(QPalette::ButtonText), 1, Qt::DotLine));
  painter.drawRect(mark.adjusted(0, 0, -1, -1));
}

void TNDButton::mousePressEvent(QMouseEvent* event) {
  QPointer<TNDButton> alive(this);
  QToolButton::mousePressEvent(event);
  if (!alive) return;
  if (event->button() == Qt::LeftButton) held_ = true;
  navigator_->BtnMouseDown(this);
  if (!alive || !(FNavStyle & nsAllowTimer)) return;
  if (FRepeatTimer == nullptr) {
    FRepeatTimer = new QTimer(this);
    connect(FRepeatTimer, &QTimer::timeout, this, &TNDButton::TimerExpired);
  }
  FRepeatTimer->setInterval(TNDBNavigator::kRepeatDelay);
  FRepeatTimer->start();
}

void TNDButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) held_ = false;
  QPointer<TNDButton> alive(this);
  QToolButton::mouseReleaseEvent(event);  // the ordinary click
  if (alive && FRepeatTimer != nullptr) FRepeatTimer->stop();
}

void TNDButton::TimerExpired() {
  if (FRepeatTimer != nullptr) FRepeatTimer->setInterval(TNDBNavigator::kRepeatInterval);
  // A button dragged off is drawn up, and one released no longer holds the mouse: no repeat.
  if (!isDown() || !held_) return;
  try {
    emit clicked();
  } catch (...) {
    if (FRepeatTimer != nullptr) FRepeatTimer->stop();
    throw;
  }
}

// ---- TNDBNavigator

TNDBNavigator::TNDBNavigator(QWidget* owner) : QFrame(owner), QRComponent(this) {
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(true);
  setFocusPolicy(Qt::NoFocus);
  InitButtons();
  SetBounds(x(), y(), kInitialWidth, kInitialHeight);
}

TNDBNavigator::~TNDBNavigator() = default;

void TNDBNavigator::InitButtons() {
  FMinBtnSize = QPoint(kMinButtonWidth, kMinButtonHeight);
  int x = 0;
  for (int i = 0; i < kButtonCount; ++i) {
    auto* button = new TNDButton(this);
    button->FIndex = Nth(i);
    button->setVisible(InSet(FVisibleButtons, Nth(i)));
    button->setGeometry(x, 0, kMinButtonWidth, kMinButtonHeight);
    const QIcon glyphs = GlyphsOf(QRLoadBitmap(QStringLiteral("NDBN_") + QLatin1String(kBitmapWords[i])));
    if (!glyphs.isNull()) {
      button->setIcon(glyphs);
      button->setIconSize(glyphs.availableSizes().value(0));
    }
    connect(button, &QAbstractButton::clicked, this, [this, button] { BClick(button); });
    FButtons[i] = button;
    x += kMinButtonWidth;
  }
  InitHints();
  FButtons[qrbPrior]->FNavStyle |= nsAllowTimer;
  FButtons[qrbNext]->FNavStyle |= nsAllowTimer;
}

void TNDBNavigator::InitHints() {
  const int lines = std::min<int>(int(FHints.size()), kButtonCount);
  for (int i = 0; i < lines; ++i) {
    if (!FHints[i].isEmpty()) FButtons[i]->setToolTip(FHints[i]);
  }
}

void TNDBNavigator::SetHints(const QStringList& Value) {
  FHints = Value;
  InitHints();
}

void TNDBNavigator::SetNotesDataCtrl(TQuireDataCtrl* Value) {
  if (Value == FNotesDataCtrl) return;
  if (FNotesDataCtrl != nullptr) RemoveFreeNotification(FNotesDataCtrl);
  FNotesDataCtrl = Value;
  // The control may sit on another form; it tells us when it goes either way.
  if (FNotesDataCtrl != nullptr) FreeNotification(FNotesDataCtrl);
}

void TNDBNavigator::Notification(QObject* component, TOperation operation) {
  if (operation == opRemove && FNotesDataCtrl != nullptr && component == static_cast<QObject*>(FNotesDataCtrl))
    FNotesDataCtrl = nullptr;
}

void TNDBNavigator::SetVisible(TButtonSet Value) {
  FVisibleButtons = Value & AllButtons();
  for (int i = 0; i < kButtonCount; ++i) FButtons[i]->setVisible(InSet(FVisibleButtons, Nth(i)));
  Relayout();
  update();
}

void TNDBNavigator::SetAlign(TAlign Value) {
  if (Value == FAlign) return;
  FAlign = Value;
  Relayout();
}

void TNDBNavigator::SetTabStop(bool Value) { setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus); }

int TNDBNavigator::VisibleCount() const {
  int n = 0;
  for (int i = 0; i < kButtonCount; ++i) n += InSet(FVisibleButtons, Nth(i)) ? 1 : 0;
  return n;
}

// The buttons are placed at the adjusted size rather than the current one: in Qt a hidden
// widget gets no resize event, so the size handler may not run again before it is shown.
void TNDBNavigator::AdjustSize(int& width, int& height) {
  if (IsLoading() || FButtons[0] == nullptr) return;
  const int n = std::max(1, VisibleCount());
  if (n * FMinBtnSize.x() > width) width = n * FMinBtnSize.x();
  if (height < FMinBtnSize.y()) height = FMinBtnSize.y();
  FButtonWidth = width / n;
  const int total = n * FButtonWidth;
  if (FAlign == alNone) width = total;

  // The pixels left over go one each to the buttons where the accumulator runs below zero,
  // which spreads them evenly from the middle out.
  int x = 0;
  const int remainder = width - total;
  int acc = n / 2;
  for (int i = 0; i < kButtonCount; ++i) {
    if (!InSet(FVisibleButtons, Nth(i))) {
      FButtons[i]->setGeometry(width + 1, 0, FButtonWidth, height);
      continue;
    }
    int space = 0;
    if (remainder != 0) {
      acc -= remainder;
      if (acc < 0) {
        acc += n;
        space = 1;
      }
    }
    FButtons[i]->setGeometry(x, 0, FButtonWidth + space, height);
    x += FButtonWidth + space;
  }
}

void TNDBNavigator::SetBounds(int left, int top, int width, int height) {
  AdjustSize(width, height);
  setGeometry(left, top, width, height);
}

void TNDBNavigator::Relayout() {
  int w = width();
  int h = height();
  AdjustSize(w, h);
  if (w != width() || h != height()) resize(w, h);
}

void TNDBNavigator::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Relayout();
}

void TNDBNavigator::Loaded() {
  Relayout();
  InitHints();
}

QSize TNDBNavigator::sizeHint() const {
  const int n = std::max(1, VisibleCount());
  return {n * (kInitialWidth / kButtonCount), kInitialHeight};
}

QSize TNDBNavigator::minimumSizeHint() const {
  return {std::max(1, VisibleCount()) * kMinButtonWidth, kMinButtonHeight};
}

void TNDBNavigator::BClick(TNDButton* sender) { BtnClick(sender->FIndex); }

void TNDBNavigator::BtnClick(TNDNavigateBtn button) {
  if (FNotesDataCtrl != nullptr) {
    switch (button) {
      case qrbFirst:
        FNotesDataCtrl->MoveFirst();
        break;
      case qrbPrior:
        FNotesDataCtrl->MovePrev();
        break;
      case qrbNext:
        FNotesDataCtrl->MoveNext();
        break;
      case qrbLast:
        FNotesDataCtrl->MoveLast();
        break;
      case qrbInsert:
        FNotesDataCtrl->CreateNewDoc(FNotesDataCtrl->Form());
        break;
      case qrbDelete:
        FNotesDataCtrl->DeleteCurrDoc();
        break;
      case qrbPost:
        FNotesDataCtrl->SaveDoc();
        break;
      case qrbCancel:
        break;
      case qrbRefresh:
        FNotesDataCtrl->Refresh();
        break;
    }
  }
  if (IsDesigning()) return;
  // A handler may close the form and so destroy the navigator.
  QPointer<TNDBNavigator> alive(this);
  if (OnClick) OnClick(this, button);
  if (alive) emit buttonClicked(button);
}

void TNDBNavigator::BtnMouseDown(TNDButton* sender) {
  const TNDNavigateBtn old = FFocusedButton;
  FFocusedButton = sender->FIndex;
  if (!TabStop()) return;
  if (!hasFocus()) {
    if (isEnabled() && isVisible()) {
      setFocus(Qt::MouseFocusReason);  // focusInEvent repaints the focused button
      return;
    }
  } else if (old != FFocusedButton) {
    FButtons[old]->update();
    FButtons[FFocusedButton]->update();
  }
}

void TNDBNavigator::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  FButtons[FFocusedButton]->update();
}

void TNDBNavigator::focusOutEvent(QFocusEvent* event) {
  QFrame::focusOutEvent(event);
  FButtons[FFocusedButton]->update();
}

// Qt gives a focused widget its arrow keys inside dialogs too, so the navigator needs nothing
// like a dialog code to receive them; Tab still moves the focus on.
void TNDBNavigator::keyPressEvent(QKeyEvent* event) {
  const auto visible = [this](int ordinal) { return InSet(FVisibleButtons, Nth(ordinal)); };
  int target = FFocusedButton;
  switch (event->key()) {
    case Qt::Key_Space:
      if (FButtons[FFocusedButton]->isEnabled()) FButtons[FFocusedButton]->click();
      return;
    case Qt::Key_Left:
      // Ordinal 0 is taken even when hidden.
      do {
        if (target > 0) --target;
      } while (target > 0 && !visible(target));
      break;
    case Qt::Key_Right:
      do {
        if (target < kButtonCount - 1) ++target;
      } while (target < kButtonCount - 1 && !visible(target));
      break;
    default:
      QFrame::keyPressEvent(event);
      return;
  }
  if (target == FFocusedButton) return;
  const TNDNavigateBtn old = FFocusedButton;
  FFocusedButton = Nth(target);
  FButtons[old]->update();
  FButtons[FFocusedButton]->update();
}
