#include "indicators.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstring>

#include "box.h"
#include "filters.h"

namespace uictl {
namespace {

constexpr int BN_CLICKED = 0;

bool AlignmentAccepted(std::uint32_t bits) {
  constexpr std::uint32_t known = kAlignLeft | kAlignRight | kAlignTop | kAlignBottom;
  return (bits & ~known) == 0 &&
         (bits & (kAlignLeft | kAlignRight)) != (kAlignLeft | kAlignRight) &&
         (bits & (kAlignTop | kAlignBottom)) != (kAlignTop | kAlignBottom);
}

// Steps of a level or remaining class; 0 for a percentage.
std::uint32_t StepsOf(const char* className) {
  const std::string name = className;
  if (name == "NSOUTPUTLEVEL4" || name.rfind("NSPAPERREMAIN4", 0) == 0) return 4;
  if (name == "NSOUTPUTLEVEL5" || name.rfind("NSPAPERREMAIN5", 0) == 0) return 5;
  return 0;
}

}  // namespace

Indicator::Indicator(QWidget* parent, int id, const char* className)
    : Control(parent, id, className) {
  setFocusPolicy(Qt::NoFocus);
}

LRESULT Indicator::Set(std::uint32_t& slot, std::uint32_t value, bool accepted) {
  if (!accepted) return kIndicatorFailed;
  if (slot == value) return 0;
  slot = value;
  repaint();
  return 0;
}

LRESULT Indicator::Get(std::uint32_t value, LPARAM out) {
  auto* p = reinterpret_cast<std::uint32_t*>(out);
  if (!p) return kIndicatorFailed;
  *p = value;
  return 0;
}

LRESULT Indicator::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  const auto value = static_cast<std::uint32_t>(lParam);
  if (message == DefineMessage()) return Set(defined_, value, value <= 1);
  if (message == DefineMessage() + 1) return Get(defined_, lParam);
  return Message(message, wParam, lParam);
}

void Indicator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  Paint(painter);
}

QColor Indicator::Lit(const QColor& color) const {
  return defined_ ? color : palette().color(QPalette::Disabled, QPalette::WindowText);
}

// Gauge.

Gauge::Gauge(QWidget* parent, int id, const QString& windowText)
    : Indicator(parent, id, "NSGAUGE"), bar_(palette().color(QPalette::Highlight)) {
  const GaugeSetup setup = ParseGaugeText(windowText.toStdString());
  minimum_ = setup.minimum;
  maximum_ = setup.maximum;
  value_ = setup.value;
  setEnabled(false);  // never takes the focus
}

LRESULT Gauge::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  const auto value = static_cast<std::uint32_t>(lParam);
  const std::uint32_t low = std::min(minimum_, maximum_), high = std::max(minimum_, maximum_);
  switch (message) {
    case 1400: {
      const auto minimum = static_cast<std::uint32_t>(wParam);
      if (minimum == minimum_ && value == maximum_) return 0;
      minimum_ = minimum;
      maximum_ = value;
      value_ = std::clamp(value_, std::min(minimum_, maximum_), std::max(minimum_, maximum_));
      repaint();
      return 0;
    }
    case 1401: {
      auto* minimum = reinterpret_cast<std::uint32_t*>(wParam);
      if (!minimum || Get(maximum_, lParam) != 0) return kIndicatorFailed;
      *minimum = minimum_;
      return 0;
    }
    case 1410: return Set(value_, value, value >= low && value <= high);
    case 1411: return Get(value_, lParam);
    default: return kIndicatorFailed;
  }
}

void Gauge::Paint(QPainter& painter) {
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  const std::uint32_t low = std::min(minimum_, maximum_), high = std::max(minimum_, maximum_);
  const double share = high > low ? double(value_ - low) / double(high - low) : 0.0;
  QRectF filled = r.adjusted(2, 2, -2, -2);
  filled.setWidth(filled.width() * share);
  painter.fillRect(filled, Lit(bar_));
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawRect(r);
  const QString percent = defined_ ? QString::number(qRound(share * 100)) + "%" : "--";
  painter.setPen(palette().color(QPalette::Active, QPalette::Text));
  painter.drawText(rect(), Qt::AlignCenter, percent);
}

// Online LED and check mark.

Lamp::Lamp(QWidget* parent, int id, const QString& windowText, bool checkMark)
    : Indicator(parent, id, checkMark ? "NSCHECKMARK" : "NSONLINELED"),
      checkMark_(checkMark),
      base_(checkMark ? 1800 : 1700),
      align_(ParseAlignment(windowText.toStdString())) {}

LRESULT Lamp::Message(UINT message, WPARAM, LPARAM lParam) {
  const auto value = static_cast<std::uint32_t>(lParam);
  if (message == base_) {
    if (checkMark_) return Set(value_, value, value <= 1);
    if (value == 5) {  // accepted: redraws only
      repaint();
      return 0;
    }
    return Set(value_, value, value == 0 || value == 1 || value == 3 || value == 4);
  }
  if (message == base_ + 1) return Get(value_, lParam);
  if (message == base_ + 10) return Set(align_, value, AlignmentAccepted(value));
  if (message == base_ + 11) return Get(align_, lParam);
  return kIndicatorFailed;
}

QRect Lamp::Placed(int side) const {
  int x = (width() - side) / 2, y = (height() - side) / 2;
  if (align_ & kAlignLeft) x = 0;
  if (align_ & kAlignRight) x = width() - side;
  if (align_ & kAlignTop) y = 0;
  if (align_ & kAlignBottom) y = height() - side;
  return QRect(x, y, side, side);
}

void Lamp::Paint(QPainter& painter) {
  const int side = std::max(4, std::min(width(), height()));
  const QRectF r = QRectF(Placed(side)).adjusted(1, 1, -1, -1);
  if (checkMark_) {
    painter.setPen(QPen(palette().color(QPalette::Dark), 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRect(r);
    if (value_ == 1) {
      QPainterPath tick;
      tick.moveTo(r.left() + r.width() * 0.2, r.top() + r.height() * 0.55);
      tick.lineTo(r.left() + r.width() * 0.42, r.top() + r.height() * 0.78);
      tick.lineTo(r.left() + r.width() * 0.8, r.top() + r.height() * 0.25);
      painter.setPen(QPen(Lit(QColor(0, 120, 0)), std::max(1.5, r.width() / 8), Qt::SolidLine,
                          Qt::RoundCap, Qt::RoundJoin));
      painter.setBrush(Qt::NoBrush);
      painter.drawPath(tick);
    }
    return;
  }
  QColor colour;
  switch (value_) {
    case 1: colour = QColor(40, 200, 40); break;  // online
    case 3: colour = QColor(220, 40, 30); break;  // error
    case 4: colour = QColor(240, 170, 0); break;  // busy
    default: colour = QColor(90, 90, 90); break;  // off
  }
  QRadialGradient glow(r.center() - QPointF(r.width() / 6, r.height() / 6), r.width() / 1.5);
  glow.setColorAt(0, Lit(colour).lighter(160));
  glow.setColorAt(1, Lit(colour));
  painter.setPen(QPen(palette().color(QPalette::Shadow), 1));
  painter.setBrush(glow);
  painter.drawEllipse(r);
}

// Indicator button.

IndicatorButton::IndicatorButton(QWidget* parent, int id)
    : Indicator(parent, id, "NSINDICATORBUTTON") {
  setFocusPolicy(Qt::StrongFocus);
}

LRESULT IndicatorButton::Message(UINT message, WPARAM, LPARAM lParam) {
  const auto value = static_cast<std::uint32_t>(lParam);
  switch (message) {
    case 1500: {
      const LRESULT result = Set(style_, value, value == 16 || value == 32);
      if (result == 0) setEnabled(style_ == 32);
      return result;
    }
    case 1501: return Get(style_, lParam);
    case 1510: return Set(state_, value, value <= 6);
    case 1511: return Get(state_, lParam);
    case 1520: return Set(check_, value, value <= 1);
    case 1521: return Get(check_, lParam);
    default: return kIndicatorFailed;
  }
}

void IndicatorButton::Click() {
  check_ = check_ ? 0 : 1;
  repaint();
  Notify(BN_CLICKED);
}

void IndicatorButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Click();
}

void IndicatorButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space)
    Click();
  else
    Indicator::keyPressEvent(event);
}

void IndicatorButton::Paint(QPainter& painter) {
  static const QColor kStates[] = {QColor(90, 90, 90),  QColor(40, 200, 40),  QColor(240, 170, 0),
                                   QColor(220, 40, 30), QColor(40, 120, 230), QColor(250, 250, 250),
                                   QColor(160, 60, 200)};
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(palette().color(QPalette::Dark), 1));
  painter.setBrush(palette().color(check_ ? QPalette::Mid : QPalette::Button));
  painter.drawRoundedRect(r, 3, 3);
  const double side = std::min(r.width(), r.height()) * 0.5;
  const QRectF lamp(r.center().x() - side / 2, r.center().y() - side / 2, side, side);
  painter.setPen(QPen(palette().color(QPalette::Shadow), 1));
  painter.setBrush(Lit(kStates[state_]));
  painter.drawEllipse(lamp);
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(r.adjusted(2, 2, -2, -2), 2, 2);
  }
}

// Status text.

StatusText::StatusText(QWidget* parent, int id, const QString& windowText)
    : Indicator(parent, id, "NSSTATUS"), text_(windowText) {}

LRESULT StatusText::Message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case 1300: {
      if (!lParam) return kIndicatorFailed;
      const QString text = TextParam(lParam);
      if (text != text_) {
        text_ = text;
        repaint();
      }
      return 0;
    }
    case 1301:
      if (!lParam || wParam == 0) return kIndicatorFailed;
      CopyText(text_, wParam, lParam);
      return 0;
    default: return kIndicatorFailed;
  }
}

void StatusText::Paint(QPainter& painter) {
  painter.setPen(Lit(palette().color(QPalette::Active, QPalette::WindowText)));
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

// Output level and remaining indicators.

Level::Level(QWidget* parent, int id, const char* className)
    : Indicator(parent, id, className),
      base_(std::strncmp(className, "NSOUTPUTLEVEL", 13) == 0 ? 2300 : 1600),
      steps_(StepsOf(className)) {}

LRESULT Level::Message(UINT message, WPARAM, LPARAM lParam) {
  const auto value = static_cast<std::uint32_t>(lParam);
  const std::uint32_t top = steps_ ? steps_ : 100;
  if (message == base_) return Set(style_, value, value <= 1);
  if (message == base_ + 1) return Get(style_, lParam);
  if (message == base_ + 10) return Set(value_, value, value <= top);
  if (message == base_ + 11) return Get(value_, lParam);
  if (message == base_ + 30) {
    repaint();
    return 0;
  }
  return kIndicatorFailed;
}

void Level::Paint(QPainter& painter) {
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const bool upwards = style_ == 1;
  const QColor on = Lit(base_ == 2300 ? QColor(40, 120, 230) : QColor(40, 170, 80));
  const QColor off = palette().color(QPalette::Base);
  painter.setPen(QPen(palette().color(QPalette::Dark), 1));
  if (steps_ == 0) {
    painter.setBrush(off);
    painter.drawRect(r);
    QRectF filled = r.adjusted(2, 2, -2, -2);
    if (upwards)
      filled.setTop(filled.bottom() - filled.height() * value_ / 100.0);
    else
      filled.setWidth(filled.width() * value_ / 100.0);
    painter.fillRect(filled, value_ <= 10 ? Lit(QColor(220, 40, 30)) : on);
    return;
  }
  // One block a step, growing like a signal meter.
  const double gap = 2;
  const double along = (upwards ? r.height() : r.width()) - gap * (steps_ - 1);
  const double block = along / steps_;
  for (std::uint32_t i = 0; i < steps_; ++i) {
    const double grow = 0.4 + 0.6 * (i + 1) / steps_;
    QRectF b;
    if (upwards) {
      const double w = r.width() * grow;
      b = QRectF(r.left() + (r.width() - w) / 2, r.bottom() - (i + 1) * block - i * gap, w, block);
    } else {
      const double h = r.height() * grow;
      b = QRectF(r.left() + i * (block + gap), r.bottom() - h, block, h);
    }
    painter.setBrush(i < value_ ? on : off);
    painter.drawRect(b);
  }
}

}  // namespace uictl
