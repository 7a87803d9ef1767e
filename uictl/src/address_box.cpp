#include "address_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>

#include <cstring>

#include "filters.h"
#include "lang.h"

namespace uictl {
namespace {

constexpr int kVkLeft = 37;
constexpr int kVkRight = 39;

}  // namespace

AddressBox::AddressBox(QWidget* parent, int id, bool netWare)
    : Control(parent, id, netWare ? "NSNWADDRESSBOX" : "NSIPADDRESSBOX"), netWare_(netWare) {
  const QFontMetrics metrics(font());
  const int h = metrics.height();
  const std::vector<int> limits = netWare ? std::vector<int>{8, 12} : std::vector<int>{3, 3, 3, 3};
  // The widest of the field's characters: in most fonts digits are wider than "F".
  const int digitWidth = netWare ? std::max(metrics.horizontalAdvance("FFFFFFFF"),
                                            metrics.horizontalAdvance("00000000")) /
                                       8
                                 : metrics.horizontalAdvance("255") / 3;
  const int w = std::max(1, digitWidth);
  // The line edit keeps a margin of its own on both sides of its text.
  constexpr int kEditMargins = 6;
  const int fieldWidth = 3 * w + w / 2 - 1 + kEditMargins;
  int x = w / 3;
  for (std::size_t i = 0; i < limits.size(); ++i) {
    auto* field = new QLineEdit(this);
    SetControlId(field, 101 + static_cast<int>(i));
    field->setFrame(false);
    field->setAlignment(Qt::AlignCenter);
    field->setMaxLength(limits[i]);
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    const int width = netWare ? limits[i] * w + w / 2 + kEditMargins : fieldWidth;
    field->setGeometry(x, h / 4, width, h + 1);
    x += width + w;
    field->installEventFilter(this);
    connect(field, &QLineEdit::textChanged, this, [this, i] { FieldChanged(static_cast<int>(i)); });
    fields_.push_back(field);
    lastGood_.emplace_back();
  }
  setFocusProxy(fields_.front());
  setFocusPolicy(Qt::StrongFocus);
  setFixedSize(x - w + w / 3 + 1, h + h / 2 + 1);
  UpdateLook();
}

int AddressBox::IndexOf(QObject* field) const {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i] == field) return static_cast<int>(i);
  return -1;
}

bool AddressBox::FieldInRange(int index) const {
  return netWare_ || IpFieldNumber(Field(index)->text().toStdString()) < 256;
}

void AddressBox::UpdateLook() {
  const bool normal = defined_ && isEnabled();
  const QColor text =
      QApplication::palette().color(normal ? QPalette::Active : QPalette::Disabled, QPalette::Text);
  for (QLineEdit* field : fields_) {
    QPalette palette = field->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      palette.setColor(group, QPalette::Text, text);
    field->setPalette(palette);
  }
  update();
}

void AddressBox::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) UpdateLook();
  QWidget::changeEvent(event);
}

void AddressBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const QRect r = rect();
  painter.fillRect(r, pal.color(QPalette::Base));
  // A two-pixel sunken border.
  const int right = r.width() - 1, bottom = r.height() - 1;
  painter.setPen(pal.color(QPalette::Dark));
  painter.drawLine(0, 0, right, 0);
  painter.drawLine(0, 0, 0, bottom);
  painter.setPen(pal.color(QPalette::Shadow));
  painter.drawLine(1, 1, right - 1, 1);
  painter.drawLine(1, 1, 1, bottom - 1);
  painter.setPen(pal.color(QPalette::Light));
  painter.drawLine(0, bottom, right, bottom);
  painter.drawLine(right, 0, right, bottom);
  painter.setPen(pal.color(QPalette::Button));
  painter.drawLine(1, bottom - 1, right - 1, bottom - 1);
  painter.drawLine(right - 1, 1, right - 1, bottom - 1);
  painter.setPen(pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  painter.setFont(font());
  for (std::size_t i = 0; i + 1 < fields_.size(); ++i) {
    const QRect f = fields_[i]->geometry();
    const QRect gap(f.right() + 1, f.top(), fields_[i + 1]->x() - f.right() - 1, f.height());
    painter.drawText(gap, Qt::AlignCenter, netWare_ ? ":" : ".");
  }
}

void AddressBox::SetFieldQuietly(int index, const QString& text) {
  const bool was = notify_;
  notify_ = false;
  Field(index)->setText(text);
  lastGood_[static_cast<std::size_t>(index)] = text;
  notify_ = was;
}

void AddressBox::FocusField(int index, bool selectAll) {
  QLineEdit* field = Field(index);
  field->setFocus(Qt::OtherFocusReason);
  if (selectAll) field->selectAll();
}

void AddressBox::WarnRange(int index) {
  std::string text = LanguageText("Warning");
  if (text.empty()) text = FormatNumbers(StringText(13), {0, 255});
  std::string caption = LanguageText("Caption");
  if (caption.empty()) caption = kWarningCaption;
  ShowWarning(TopLevelOf(this), QString::fromStdString(caption), QString::fromStdString(text));
  FocusField(index, false);
}

void AddressBox::FieldChanged(int index) {
  if (!notify_) return;
  changed_ = true;
  if (!defined_) {
    defined_ = true;
    UpdateLook();
  }
  QLineEdit* field = Field(index);
  if (!FieldInRange(index)) {
    WarnRange(index);
    const QString good = lastGood_[static_cast<std::size_t>(index)];
    SetFieldQuietly(index, good);
    field->setCursorPosition(static_cast<int>(good.size()));
  } else {
    lastGood_[static_cast<std::size_t>(index)] = field->text();
    if (field->text().size() >= field->maxLength() && index + 1 < FieldCount())
      FocusField(index + 1, true);
  }
  update();
  Notify(EN_CHANGE);
}

bool AddressBox::MoveField(int index, bool forward) {
  const int to = forward ? index + 1 : index - 1;
  if (to < 0 || to >= FieldCount()) return false;
  QLineEdit* field = Field(to);
  field->setFocus(Qt::OtherFocusReason);
  field->deselect();
  field->setCursorPosition(forward ? 0 : static_cast<int>(field->text().size()));
  return true;
}

void AddressBox::FocusTabStop(bool previous) {
  // The next widget in the tab chain outside this box.
  QWidget* w =
      previous ? fields_.front()->previousInFocusChain() : fields_.back()->nextInFocusChain();
  for (; w && w != fields_.front() && w != fields_.back();
       w = previous ? w->previousInFocusChain() : w->nextInFocusChain()) {
    if (IndexOf(w) < 0 && w != this && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
        w->isVisibleTo(window()) && !w->focusProxy()) {
      w->setFocus(previous ? Qt::BacktabFocusReason : Qt::TabFocusReason);
      return;
    }
  }
}

bool AddressBox::FieldKey(int index, QKeyEvent* key) {
  QLineEdit* field = Field(index);
  const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
  const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: SendCommand(this, IDOK, 0); return true;
    case Qt::Key_Escape: SendCommand(this, IDCANCEL, 0); return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      if (!FieldInRange(index))
        WarnRange(index);
      else
        Dispatch(
            1025, 0,
            (key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier)) ? 0x8000 : 0);
      return true;
    case Qt::Key_Backspace:
    case Qt::Key_Left:
    case Qt::Key_Up:
      if (!atStart) return false;
      if (!FieldInRange(index))
        WarnRange(index);
      else
        MoveField(index, false);
      return true;
    case Qt::Key_Right:
    case Qt::Key_Down:
      if (!atEnd) return false;
      if (!FieldInRange(index))
        WarnRange(index);
      else
        MoveField(index, true);
      return true;
    default: break;
  }
  const QString text = key->text();
  if (text.isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  std::u32string typed;
  for (char32_t c : text.toStdU32String()) {
    switch (FilterChar(netWare_ ? Family::Hexa : Family::IpField, c)) {
      case CharVerdict::Pass: typed += c; break;
      case CharVerdict::Upper: typed += static_cast<char32_t>(c - U'a' + U'A'); break;
      case CharVerdict::Drop: Beep(); break;
      case CharVerdict::Ignore: {
        // "." moves on from a field that holds a number, with the caret past its start.
        const int start =
            field->hasSelectedText() ? field->selectionStart() : field->cursorPosition();
        if (start != 0 && !field->text().isEmpty() && index + 1 < FieldCount())
          FocusField(index + 1, true);
        break;
      }
    }
  }
  if (typed == text.toStdU32String()) return false;
  if (!typed.empty()) field->insert(QString::fromStdU32String(typed));
  return true;
}

bool AddressBox::eventFilter(QObject* watched, QEvent* event) {
  const int index = IndexOf(watched);
  if (index < 0) return false;
  switch (event->type()) {
    case QEvent::KeyPress: return FieldKey(index, static_cast<QKeyEvent*>(event));
    case QEvent::FocusIn:
      if (!focusInside_) {
        focusInside_ = true;
        Notify(EN_SETFOCUS);
      }
      return false;
    case QEvent::FocusOut:
      if (IndexOf(QApplication::focusWidget()) < 0 && QApplication::focusWidget() != this) {
        focusInside_ = false;
        Notify(EN_KILLFOCUS);
      }
      return false;
    default: return false;
  }
}

LRESULT AddressBox::Dispatch(UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case 1034: {  // get value
      if (netWare_) {
        auto* out = reinterpret_cast<unsigned char*>(lParam);
        const auto bytes =
            ParseNetWare(Field(0)->text().toStdString(), Field(1)->text().toStdString());
        if (!out || !bytes) return 0;
        std::memcpy(out, bytes->data(), bytes->size());
        return 1;
      }
      std::uint32_t value = 0;
      for (int i = 0; i < 4; ++i) {
        const int n = IpFieldNumber(Field(i)->text().toStdString());
        value |= static_cast<std::uint32_t>(n < 256 ? n : 0) << (8 * i);
      }
      return static_cast<LRESULT>(value);
    }
    case 1035: {  // set value
      if (netWare_) {
        const auto* in = reinterpret_cast<const unsigned char*>(lParam);
        if (!in) return 0;
        QString network, node;
        for (int i = 0; i < 4; ++i) network += QString::asprintf("%02X", in[i]);
        for (int i = 4; i < 10; ++i) node += QString::asprintf("%02X", in[i]);
        SetFieldQuietly(0, network);
        SetFieldQuietly(1, node);
      } else {
        const auto value = static_cast<std::uint32_t>(lParam);
        for (int i = 0; i < 4; ++i) SetFieldQuietly(i, QString::number((value >> (8 * i)) & 0xFF));
      }
      update();
      return 0;
    }
    case 1036:
      for (int i = 0; i < FieldCount(); ++i) SetFieldQuietly(i, QString());
      update();
      return 0;
    case 1037:
      setEnabled(HighWord(lParam) != 0);
      UpdateLook();
      return 0;
    case 1038: return isEnabled() ? 1 : 0;
    case 1039:
      defined_ = HighWord(lParam) != 0;
      UpdateLook();
      repaint();
      return 0;
    case 1040: return defined_ ? 1 : 0;
    case 1024: {  // from a field: move to the neighbouring field
      const int index = IndexOf(QApplication::focusWidget());
      if (index < 0) return 0;
      if (LowWord(lParam) != kVkRight && LowWord(lParam) != kVkLeft) return 0;
      return MoveField(index, LowWord(lParam) == kVkRight) ? 1 : 0;
    }
    case 1025: FocusTabStop((LowWord(lParam) & 0x8000) != 0); return 0;
    default: return 0;
  }
}

}  // namespace uictl
