#include "spin.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "filters.h"
#include "lang.h"

namespace uictl {
namespace {

constexpr int kScrollId = 1001;
constexpr int kScrollWidth = 16;

QString Stripped(QString text) {
  text.remove("TENTHS");
  while (text.endsWith(',') || text.endsWith(' ')) text.chop(1);
  return text;
}

}  // namespace

// Micro scroll.

MicroScroll::MicroScroll(QWidget* parent, int id)
    : Control(parent, id, "NSMICROSCROLL"), color_(0) {
  const QColor face = palette().color(QPalette::Button);
  color_ = static_cast<std::uint32_t>(face.red() | face.green() << 8 | face.blue() << 16);
  setFocusPolicy(Qt::NoFocus);
}

void MicroScroll::SetRange(int minimum, int maximum) {
  minimum_ = std::min(minimum, maximum);
  maximum_ = std::max(minimum, maximum);
  position_ = std::clamp(position_, minimum_, maximum_);
}

void MicroScroll::Step(bool up) {
  if (!isEnabled()) return;
  const int tick = std::max(1, tick_);
  const bool increase = up != invert_;
  int next = position_ + (increase ? tick : -tick);
  if (next > maximum_) next = noPeg_ ? minimum_ : maximum_;
  if (next < minimum_) next = noPeg_ ? maximum_ : minimum_;
  if (next == position_) return;
  position_ = next;
  update();
  if (onStep)
    onStep(position_);
  else
    Notify(MSN_POSCHANGED);
}

void MicroScroll::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Step(event->position().y() < height() / 2.0);
}

void MicroScroll::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor face(color_ & 0xFF, (color_ >> 8) & 0xFF, (color_ >> 16) & 0xFF);
  const QColor arrow =
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
  for (int half = 0; half < 2; ++half) {
    const QRectF r(0.5, 0.5 + half * height() / 2.0, width() - 1.0, height() / 2.0 - 1.0);
    painter.setPen(palette().color(QPalette::Dark));
    painter.setBrush(face);
    painter.drawRect(r);
    const double w = std::min(r.width(), r.height()) * 0.6, h = w / 2;
    const QPointF c = r.center();
    QPainterPath triangle;
    if (half == 0) {
      triangle.moveTo(c.x() - w / 2, c.y() + h / 2);
      triangle.lineTo(c.x() + w / 2, c.y() + h / 2);
      triangle.lineTo(c.x(), c.y() - h / 2);
    } else {
      triangle.moveTo(c.x() - w / 2, c.y() - h / 2);
      triangle.lineTo(c.x() + w / 2, c.y() - h / 2);
      triangle.lineTo(c.x(), c.y() + h / 2);
    }
    triangle.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(arrow);
    painter.drawPath(triangle);
  }
}

LRESULT MicroScroll::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case MSM_COLORSET: {
      const std::uint32_t old = color_;
      color_ = static_cast<std::uint32_t>(lParam) & 0xFFFFFF;
      update();
      return old;
    }
    case MSM_COLORGET: return color_;
    case MSM_RANGESET: {
      const LRESULT old =
          MakeLParam(static_cast<std::uint16_t>(minimum_), static_cast<std::uint16_t>(maximum_));
      SetRange(static_cast<std::int16_t>(LowWord(lParam)),
               static_cast<std::int16_t>(HighWord(lParam)));
      return old;
    }
    case MSM_RANGEGET:
      return MakeLParam(static_cast<std::uint16_t>(minimum_), static_cast<std::uint16_t>(maximum_));
    case MSM_POSSET: {
      const int old = position_;
      position_ =
          std::clamp(static_cast<int>(static_cast<std::int16_t>(wParam)), minimum_, maximum_);
      update();
      return old;
    }
    case MSM_POSGET: return position_;
    case MSM_TICKSET: {
      const int old = tick_;
      tick_ = std::max(1, static_cast<int>(static_cast<std::uint16_t>(wParam)));
      return old;
    }
    case MSM_TICKGET: return tick_;
    case MSM_INVERTSET: {
      const bool old = invert_;
      invert_ = wParam != 0;
      return old ? 1 : 0;
    }
    case MSM_INVERTGET: return invert_ ? 1 : 0;
    case MSM_NOPEGSET: {
      const bool old = noPeg_;
      noPeg_ = wParam != 0;
      return old ? 1 : 0;
    }
    case MSM_NOPEGGET: return noPeg_ ? 1 : 0;
    case MSM_ASSOCIATESET: {
      QWidget* old = associate_;
      associate_ = reinterpret_cast<QWidget*>(lParam);
      return reinterpret_cast<LRESULT>(old);
    }
    case MSM_ASSOCIATEGET: return reinterpret_cast<LRESULT>(associate_);
    default: return 0;
  }
}

// Spin box.

SpinBox::SpinBox(QWidget* parent, int id, const QString& windowText)
    : Box(parent, id, "NSSPINBOX",
          windowText.contains("TENTHS") ? Family::SpinTenths : Family::Spin, 6),
      scroll_(new MicroScroll(this, kScrollId)),
      tenths_(windowText.contains("TENTHS")) {
  const Range range = ParseRange(Stripped(windowText).toStdString());
  state_.minimum = range.minimum;
  state_.maximum = range.maximum;
  state_.rangeValid = range.valid;
  scroll_->SetRange(range.minimum, range.maximum);
  scroll_->onStep = [this](int position) { Show(position, false); };
  Show(scroll_->Position(), true);
  SetDefined(true);
}

void SpinBox::resizeEvent(QResizeEvent*) {
  Edit()->setGeometry(0, 0, std::max(0, width() - kScrollWidth), height());
  scroll_->setGeometry(std::max(0, width() - kScrollWidth), 0, kScrollWidth, height());
}

QString SpinBox::Format(int value) const {
  if (!tenths_) return QString::number(value);
  return QString("%1.%2").arg(value / 10).arg(value % 10);
}

void SpinBox::Show(int value, bool quietly) {
  scroll_->SetPosition(value);
  if (quietly)
    SetTextQuietly(Format(value));
  else
    Edit()->setText(Format(value));
}

SpinBox::Verdict SpinBox::Judge() const {
  const int minimum = scroll_->Minimum(), maximum = scroll_->Maximum(), tick = scroll_->Tick();
  const auto value = ParseSpinText(Edit()->text().toStdString(), tenths_);
  const int rangeMessage = tenths_ ? 18 : 19;
  if (!value || *value < minimum) return {minimum, value ? rangeMessage : 14};
  if (*value > maximum) return {maximum, rangeMessage};
  if (tick == 5 && *value % 5 != 0) return {*value - *value % 5, 17};
  return {*value, 0};
}

bool SpinBox::Check() {
  const Verdict verdict = Judge();
  if (verdict.message != 0) {
    const long minimum = scroll_->Minimum(), maximum = scroll_->Maximum();
    std::string text = StringText(verdict.message);
    if (verdict.message == 18)
      text = FormatNumbers(text, {minimum / 10, minimum % 10, maximum / 10, maximum % 10});
    else if (verdict.message == 19)
      text = FormatNumbers(text, {minimum, maximum});
    Warn(QString::fromStdString(text));
  }
  Show(verdict.value, true);
  return verdict.message == 0;
}

bool SpinBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit() && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      if (Judge().message == 0) scroll_->Step(key == Qt::Key_Up);
      return true;
    }
  }
  return Box::eventFilter(watched, event);
}

LRESULT SpinBox::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchCommon({1030, 1031, 1032, 1033}, message, wParam, lParam, &result)) return result;
  const int value = static_cast<std::int16_t>(HighWord(lParam));
  switch (message) {
    case 1025: Show(std::clamp(value, scroll_->Minimum(), scroll_->Maximum()), true); return 0;
    case 1026: {
      const int minimum = static_cast<std::int16_t>(LowWord(lParam));
      const int maximum = static_cast<std::int16_t>(HighWord(lParam));
      scroll_->SetRange(minimum, maximum);
      state_.minimum = scroll_->Minimum();
      state_.maximum = scroll_->Maximum();
      state_.rangeValid = true;
      Show(scroll_->Position(), true);
      return 0;
    }
    case 1027: scroll_->SetTick(std::max(1, value)); return 0;
    case 1028: {
      const Verdict verdict = Judge();
      return verdict.message == 0 ? verdict.value : scroll_->Position();
    }
    case 1029:
      return MakeLParam(static_cast<std::uint16_t>(scroll_->Minimum()),
                        static_cast<std::uint16_t>(scroll_->Maximum()));
    case 1034: return scroll_->Tick();
    case 1035: return Judge().message != 0 ? 1 : 0;
    default: return 0;
  }
}

}  // namespace uictl
