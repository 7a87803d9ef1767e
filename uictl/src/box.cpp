#include "box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPushButton>

#include <cstring>

#include "lang.h"

namespace uictl {
namespace {

std::u32string ToU32(const QString& text) { return text.toStdU32String(); }

// Set while a box refuses its text (warning up, focus being put back): the focus
// changes this causes validate no other box, so that two boxes holding invalid
// text cannot hand the focus back and forth without end.
int refusing = 0;
QString FromU32(const std::u32string& text) { return QString::fromStdU32String(text); }

}  // namespace

LRESULT CopyText(const QString& text, WPARAM size, LPARAM buffer) {
  char* out = reinterpret_cast<char*>(buffer);
  if (!out || size == 0) return 0;
  const QByteArray utf8 = text.toUtf8();
  std::size_t n = std::min<std::size_t>(utf8.size(), size - 1);
  // Never cut a character in two: step back over continuation bytes.
  if (n < static_cast<std::size_t>(utf8.size()))
    while (n > 0 && (static_cast<unsigned char>(utf8[static_cast<qsizetype>(n)]) & 0xC0) == 0x80)
      --n;
  std::memcpy(out, utf8.constData(), n);
  out[n] = '\0';
  return static_cast<LRESULT>(n);
}

QString TextParam(LPARAM text) {
  return text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QString();
}

Box::Box(QWidget* parent, int id, const char* className, Family family, int limit)
    : Control(parent, id, className), family_(family), edit_(new QLineEdit(this)) {
  SetControlId(edit_, kBoxEditId);
  edit_->setMaxLength(limit);
  edit_->installEventFilter(this);
  setFocusProxy(edit_);
  setFocusPolicy(Qt::StrongFocus);
  connect(edit_, &QLineEdit::textChanged, this, [this] { TextChanged(); });
  UpdateLook();
}

void Box::resizeEvent(QResizeEvent*) { edit_->setGeometry(rect()); }

void Box::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) UpdateLook();
  QWidget::changeEvent(event);
}

void Box::UpdateLook() {
  QPalette palette = edit_->palette();
  const QColor text = state_.defined
                          ? QApplication::palette().color(QPalette::Active, QPalette::Text)
                          : QApplication::palette().color(QPalette::Disabled, QPalette::Text);
  palette.setColor(QPalette::Active, QPalette::Text, text);
  palette.setColor(QPalette::Inactive, QPalette::Text, text);
  edit_->setPalette(palette);
}

void Box::SetDefined(bool defined) {
  state_.defined = defined;
  UpdateLook();
}

void Box::SetTextQuietly(const QString& text) {
  state_.notify = false;
  edit_->setText(text);
  state_.notify = true;
}

void Box::TextChanged() {
  if (!state_.notify) return;
  if (!state_.defined) SetDefined(true);
  Notify(EN_CHANGE);
}

bool Box::Validate() { return Check(); }

void Box::Warn(const QString& text) {
  state_.armed = false;
  ++refusing;
  ShowWarning(TopLevelOf(this), QString::fromUtf8(kWarningCaption), text);
  --refusing;
  state_.armed = true;
}

void Box::PutFocusBack(QWidget* formerFocus) {
  ++refusing;
  edit_->setFocus(Qt::OtherFocusReason);
  --refusing;
  edit_->selectAll();
  if (auto* button = qobject_cast<QPushButton*>(formerFocus)) button->setDefault(false);
  for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
    if (auto* dialog = dynamic_cast<Dialog*>(w)) {
      if (auto* def = qobject_cast<QPushButton*>(DialogItem(dialog, dialog->DefaultId())))
        def->setDefault(true);
      break;
    }
  }
}

bool Box::FilterKey(QKeyEvent* key) {
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      if (!Validate()) {
        PutFocusBack(nullptr);
        return true;
      }
      return false;
    case Qt::Key_Escape: SendCommand(this, IDCANCEL, 0); return true;
    default: break;
  }
  const QString text = key->text();
  if (text.isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  std::u32string typed;
  for (char32_t c : ToU32(text)) {
    switch (FilterChar(family_, c)) {
      case CharVerdict::Pass: typed += c; break;
      case CharVerdict::Upper: typed += static_cast<char32_t>(c - U'a' + U'A'); break;
      case CharVerdict::Drop: Beep(); break;
      case CharVerdict::Ignore: break;
    }
  }
  if (typed == ToU32(text)) return false;
  if (!typed.empty()) edit_->insert(FromU32(typed));
  return true;
}

bool Box::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_) return false;
  switch (event->type()) {
    case QEvent::KeyPress: return FilterKey(static_cast<QKeyEvent*>(event));
    case QEvent::InputMethod: {
      auto* ime = static_cast<QInputMethodEvent*>(event);
      const QString commit = ime->commitString();
      if (commit.isEmpty()) return false;
      const QString kept = FromU32(FilterComposed(family_, ToU32(commit)));
      if (kept == commit) return false;
      if (kept.isEmpty())
        Beep();
      else
        edit_->insert(kept);
      return true;
    }
    case QEvent::FocusIn: Notify(EN_SETFOCUS); return false;
    case QEvent::FocusOut: {
      QWidget* to = QApplication::focusWidget();
      const auto* button = qobject_cast<QAbstractButton*>(to);
      const bool toCancel = button && ControlIdOf(button) == IDCANCEL;
      if (refusing > 0) return false;
      if (to && to != edit_ && TopLevelOf(this)->isActiveWindow() && state_.armed && !toCancel &&
          !Validate()) {
        PutFocusBack(to);
        return false;
      }
      Notify(EN_KILLFOCUS);
      return false;
    }
    default: return false;
  }
}

bool Box::DispatchCommon(const Block& block, UINT message, WPARAM wParam, LPARAM lParam,
                         LRESULT* result) {
  *result = 0;
  if (message == block.enable) {
    setEnabled(HighWord(lParam) != 0);
  } else if (message == block.isEnabled) {
    *result = isEnabled() ? 1 : 0;
  } else if (message == block.define) {
    SetDefined(HighWord(lParam) != 0);
  } else if (message == block.isDefined) {
    *result = state_.defined ? 1 : 0;
  } else if (message == WM_SETTEXT) {
    SetTextQuietly(TextParam(lParam));
    *result = 1;
  } else if (message == WM_GETTEXT) {
    *result = CopyText(edit_->text(), wParam, lParam);
  } else if (message == WM_GETTEXTLENGTH) {
    *result = edit_->text().toUtf8().size();
  } else if (message == EM_LIMITTEXT) {
    edit_->setMaxLength(wParam == 0 ? 32767 : static_cast<int>(std::min<WPARAM>(wParam, 32767)));
  } else {
    return false;
  }
  return true;
}

// Edit boxes.

EditBox::EditBox(QWidget* parent, int id, const char* className, int limit)
    : Box(parent, id, className, Family::Edit, limit) {}

LRESULT EditBox::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  DispatchCommon({1124, 1125, 1126, 1127}, message, wParam, lParam, &result);
  return result;
}

// Decimal boxes.

DeciBox::DeciBox(QWidget* parent, int id, const QString& windowText, bool wide)
    : Box(parent, id, wide ? "NSDECIBOXEX" : "NSDECIBOX", Family::Deci, wide ? 9 : 5), wide_(wide) {
  const Range range = ParseRange(windowText.toStdString());
  state_.minimum = range.minimum;
  state_.maximum = range.maximum;
  state_.rangeValid = range.valid;
  SetDefined(true);
}

bool DeciBox::Check() {
  const std::string text = Edit()->text().toStdString();
  const long minimum = state_.minimum, maximum = state_.maximum;
  auto rangeText = [&] {
    return QString::fromStdString(FormatNumbers(StringText(wide_ ? 21 : 13), {minimum, maximum}));
  };
  if (text.empty()) {
    Warn(rangeText());
    return false;
  }
  const auto value = ParseDecimal(text);
  if (!value) {
    Warn(QString::fromStdString(StringText(14)));
    return false;
  }
  if (state_.rangeValid && (*value < minimum || *value > maximum)) {
    Warn(rangeText());
    return false;
  }
  return true;
}

LRESULT DeciBox::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchCommon({1104, 1114, 1124, 1134}, message, wParam, lParam, &result)) return result;
  if (wide_) {
    switch (message) {
      case 1064:
        state_.minimum = static_cast<std::int32_t>(lParam);
        state_.rangeValid = true;
        break;
      case 1065:
        state_.maximum = static_cast<std::int32_t>(lParam);
        state_.rangeValid = true;
        break;
      case 1074: return state_.minimum;
      case 1075: return state_.maximum;
      case 1094: SetTextQuietly(TextParam(lParam)); return 1;
      case 1095: return CopyText(Edit()->text(), wParam, lParam);
      default: break;
    }
    return 0;
  }
  switch (message) {
    case 1064:
      state_.minimum = static_cast<std::int16_t>(LowWord(lParam));
      state_.maximum = static_cast<std::int16_t>(HighWord(lParam));
      state_.rangeValid = true;
      break;
    case 1074:
      return MakeLParam(static_cast<std::uint16_t>(state_.minimum),
                        static_cast<std::uint16_t>(state_.maximum));
    case 1084: SetTextQuietly(TextParam(lParam)); return 1;
    case 1094: return CopyText(Edit()->text(), wParam, lParam);
    default: break;
  }
  return 0;
}

// Hexadecimal box.

HexaBox::HexaBox(QWidget* parent, int id) : Box(parent, id, "NSHEXABOX", Family::Hexa, 32767) {
  SetDefined(true);
}

bool HexaBox::Check() {
  if (IsHexText(Edit()->text().toStdString())) return true;
  Warn(QString::fromStdString(StringText(15)));
  return false;
}

LRESULT HexaBox::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchCommon({1084, 1094, 1104, 1114}, message, wParam, lParam, &result)) return result;
  switch (message) {
    case 1064: SetTextQuietly(TextParam(lParam)); return 1;
    case 1074: return CopyText(Edit()->text(), wParam, lParam);
    default: return 0;
  }
}

// Name boxes.

NameBox::NameBox(QWidget* parent, int id, const char* className, Family family, int limit,
                 int message)
    : Box(parent, id, className, family, limit), message_(message) {
  state_.rangeValid = true;
}

bool NameBox::Check() {
  if (!state_.rangeValid) return true;
  const QString text = Edit()->text();
  if (family_ == Family::Uri && text.isEmpty()) {
    Warn(QString::fromStdString(FormatNumbers(StringText(20), {255})));
    return false;
  }
  std::u32string fixed = ToU32(text);
  if (message_ == 0) {
    // Refused whole, without a message.
    std::u32string probe = fixed;
    return ReplaceRefused(family_, probe) == 0;
  }
  if (ReplaceRefused(family_, fixed) == 0) return true;
  SetTextQuietly(FromU32(fixed));
  Edit()->selectAll();
  Warn(QString::fromStdString(StringText(message_)));
  return false;
}

LRESULT NameBox::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  DispatchCommon({1124, 1125, 1126, 1127}, message, wParam, lParam, &result);
  return result;
}

}  // namespace uictl
