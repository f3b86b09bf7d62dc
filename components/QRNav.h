// QRNav: the navigator (TNDBNavigator), a bar of nine bitmap buttons that drives a data control,
// and its button (TNDButton).
//
// The buttons are, left to right: first, previous, next, last, insert, delete, post, cancel and
// refresh. Each click calls the matching operation of NotesDataCtrl (MoveFirst, MovePrev,
// MoveNext, MoveLast, CreateNewDoc with the control's Form, DeleteCurrDoc, SaveDoc, nothing,
// Refresh) and then raises OnClick, unless the navigator is being designed. The navigator does
// not watch the data control: every button stays enabled, and one with nothing to act on has
// no effect. Delete never asks; ConfirmDelete is only stored with the form.
//
// Layout: the visible buttons share the width equally, one row, at least 20 x 18 each. A
// navigator with Align alNone (free-standing) shrinks to a multiple of the button count; any
// other Align means its container decides the width, and the pixels left over are spread over
// the buttons. Hidden buttons sit just right of the navigator's width. The layout runs on every
// resize and through SetBounds; while the navigator is being loaded from a form it waits for
// Loaded.
//
// Keyboard: with TabStop the navigator takes the focus when a button is pressed; the focused
// button carries a focus rectangle, the Left and Right arrows move it over the visible buttons,
// Space clicks it. Prior and Next repeat while held: first 400 ms after the press, then every
// 55 ms, on a QTimer of the button, besides the ordinary click on release.
//
// Ownership: the navigator owns its buttons (Qt children). NotesDataCtrl is not owned; it is
// cleared when that control is destroyed. Bitmaps missing from the resources leave a button
// without a glyph; nothing is reported. No operation throws, except that an exception thrown
// by an OnClick handler during auto-repeat stops the repetition and is passed on.
// Threads: the GUI thread only.
#pragma once

#include <QtCore/QStringList>
#include <QtWidgets/QFrame>
#include <QtWidgets/QToolButton>
#include <array>
#include <cstdint>
#include <functional>

#include "components/QRData.h"
#include "framework/QRComponent.h"

class QTimer;
class TNDBNavigator;

// The navigator's enumerations, registered with Qt's meta-object system under the namespace
// QRNav, with their specified ordinals. Register is the unit's own palette registration.
namespace QRNav {
Q_NAMESPACE
enum TNDNavigateBtn : int32_t {
  qrbFirst = 0,
  qrbPrior = 1,
  qrbNext = 2,
  qrbLast = 3,
  qrbInsert = 4,
  qrbDelete = 5,
  qrbPost = 6,
  qrbCancel = 7,
  qrbRefresh = 8
};
Q_ENUM_NS(TNDNavigateBtn)
// The two glyphs each button bitmap holds side by side, in this order.
enum TNDGlyph : int32_t { ngEnabled = 0, ngDisabled = 1 };
Q_ENUM_NS(TNDGlyph)
// Where the container puts the navigator; only alNone against the rest changes the layout.
enum TAlign : int32_t { alNone = 0, alTop = 1, alBottom = 2, alLeft = 3, alRight = 4, alClient = 5 };
Q_ENUM_NS(TAlign)

// Registers TNDBNavigator on the palette page "Quire".
void Register();
}  // namespace QRNav

// A set of buttons, bit n for ordinal n. Its members, as a form stores them, are the bits of
// QRNavSet (QRNavSet::qrbFirst ...), so that Designer edits the set as flags.
namespace QRNavSet {
Q_NAMESPACE
enum TNDButtonBit : uint32_t {
  qrbFirst = 1u << QRNav::qrbFirst,
  qrbPrior = 1u << QRNav::qrbPrior,
  qrbNext = 1u << QRNav::qrbNext,
  qrbLast = 1u << QRNav::qrbLast,
  qrbInsert = 1u << QRNav::qrbInsert,
  qrbDelete = 1u << QRNav::qrbDelete,
  qrbPost = 1u << QRNav::qrbPost,
  qrbCancel = 1u << QRNav::qrbCancel,
  qrbRefresh = 1u << QRNav::qrbRefresh
};
Q_DECLARE_FLAGS(TButtonSet, TNDButtonBit)
Q_FLAG_NS(TButtonSet)
}  // namespace QRNavSet
Q_DECLARE_OPERATORS_FOR_FLAGS(QRNavSet::TButtonSet)

using QRNav::TNDNavigateBtn;
using QRNav::qrbFirst;
using QRNav::qrbPrior;
using QRNav::qrbNext;
using QRNav::qrbLast;
using QRNav::qrbInsert;
using QRNav::qrbDelete;
using QRNav::qrbPost;
using QRNav::qrbCancel;
using QRNav::qrbRefresh;
using QRNav::TNDGlyph;
using QRNav::ngEnabled;
using QRNav::ngDisabled;
using QRNav::TAlign;
using QRNav::alNone;
using QRNavSet::TButtonSet;

// The set holding only `button`, and whether `set` holds it.
inline TButtonSet ButtonSetOf(TNDNavigateBtn button) {
  return TButtonSet::fromInt(QRNavSet::TButtonSet::Int(1u << button));
}
inline bool InSet(TButtonSet set, TNDNavigateBtn button) { return set.testFlags(ButtonSetOf(button)); }
// All nine buttons.
inline TButtonSet AllButtons() { return TButtonSet::fromInt(0x1FF); }

enum TNDButtonStyleFlag : uint32_t { nsAllowTimer = 1u << 0, nsFocusRect = 1u << 1 };
using TNDButtonStyle = uint32_t;

// The click event: the navigator and the button clicked.
using ENavClick = std::function<void(QObject* Sender, TNDNavigateBtn Button)>;

// One button of the navigator: a tool button that knows its place, draws the focus mark and,
// with nsAllowTimer, repeats its click while held.
class TNDButton : public QToolButton {
  Q_OBJECT

 public:
  explicit TNDButton(TNDBNavigator* navigator);
  ~TNDButton() override;
  TNDButton(const TNDButton&) = delete;
  TNDButton& operator=(const TNDButton&) = delete;

  TNDNavigateBtn FIndex = qrbFirst;
  TNDButtonStyle FNavStyle = 0;

  // The repeat timer, created on the first press of a repeating button; nullptr before.
  QTimer* RepeatTimer() const { return FRepeatTimer; }
  // One tick of the repeat timer: from now on every 55 ms; clicks while the button is drawn
  // pressed and the mouse button is still held. Public so that a test can be the clock.
  void TimerExpired();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TNDBNavigator* const navigator_;
  QTimer* FRepeatTimer = nullptr;
  // Pressed with the left mouse button and not yet released: the button holds the mouse, as
  // Qt sends every mouse event to the widget that took the press.
  bool held_ = false;
};

class TNDBNavigator : public QFrame, public QRComponent {
  Q_OBJECT
  Q_PROPERTY(QRNavSet::TButtonSet VisibleButtons READ VisibleButtons WRITE SetVisible)
  Q_PROPERTY(QRNav::TAlign Align READ Align WRITE SetAlign)
  Q_PROPERTY(QStringList Hints READ Hints WRITE SetHints)
  Q_PROPERTY(TQuireDataCtrl* NotesDataCtrl READ NotesDataCtrl WRITE SetNotesDataCtrl)
  Q_PROPERTY(bool ConfirmDelete READ ConfirmDelete WRITE SetConfirmDelete)
  Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
  Q_CLASSINFO("IncludeFile", "components/QRNav.h")

 public:
  static constexpr int kMinButtonWidth = 20;
  static constexpr int kMinButtonHeight = 18;
  static constexpr int kRepeatDelay = 400;
  static constexpr int kRepeatInterval = 55;

  explicit TNDBNavigator(QWidget* owner = nullptr);
  ~TNDBNavigator() override;
  TNDBNavigator(const TNDBNavigator&) = delete;
  TNDBNavigator& operator=(const TNDBNavigator&) = delete;

  // ---- Published properties.
  TButtonSet VisibleButtons() const { return FVisibleButtons; }
  // Shows the buttons of the set, hides the others, and lays them out again.
  void SetVisible(TButtonSet Value);
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);
  QStringList Hints() const { return FHints; }
  // Line n is the hint of button n; empty lines leave a hint as it was, lines past the ninth
  // are ignored.
  void SetHints(const QStringList& Value);
  TQuireDataCtrl* NotesDataCtrl() const { return FNotesDataCtrl; }
  void SetNotesDataCtrl(TQuireDataCtrl* Value);
  bool ConfirmDelete() const { return FConfirmDelete; }
  void SetConfirmDelete(bool Value) { FConfirmDelete = Value; }
  // Whether the navigator takes the keyboard focus (Tab, and a press on a button).
  bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
  void SetTabStop(bool Value);

  // ---- Published event.
  ENavClick OnClick;

  // ---- Layout. AdjustSize turns a requested size into the one the navigator takes and places
  // the buttons for it; SetBounds does that, then moves and resizes the navigator.
  void AdjustSize(int& width, int& height);
  void SetBounds(int left, int top, int width, int height);
  int ButtonWidth() const { return FButtonWidth; }

  // ---- Buttons.
  TNDButton* Button(TNDNavigateBtn button) const { return FButtons[button]; }
  TNDNavigateBtn FocusedButton() const { return FFocusedButton; }
  // Performs the button's action on NotesDataCtrl and raises OnClick.
  void BtnClick(TNDNavigateBtn button);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // Raised with OnClick, for Designer's signal/slot editor.
  void buttonClicked(QRNav::TNDNavigateBtn button);

 protected:
  void Loaded() override;
  void Notification(QObject* component, TOperation operation) override;
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  friend class TNDButton;

  void InitButtons();
  void InitHints();
  void BClick(TNDButton* sender);
  void BtnMouseDown(TNDButton* sender);
  void Relayout();
  int VisibleCount() const;

  TButtonSet FVisibleButtons = AllButtons();
  TAlign FAlign = alNone;
  QStringList FHints;
  TQuireDataCtrl* FNotesDataCtrl = nullptr;
  bool FConfirmDelete = true;
  int FButtonWidth = 0;
  QPoint FMinBtnSize{kMinButtonWidth, kMinButtonHeight};
  TNDNavigateBtn FFocusedButton = qrbFirst;
  std::array<TNDButton*, 9> FButtons{};
};
