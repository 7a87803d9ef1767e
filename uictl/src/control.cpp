#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QVariant>

#include "uictl/controls.h"

namespace uictl {
namespace {

constexpr const char* kIdProperty = "uictlId";

WarningPresenter& Presenter() {
  static WarningPresenter presenter;
  return presenter;
}

std::function<void()>& Beeper() {
  static std::function<void()> beeper;
  return beeper;
}

}  // namespace

void SetControlId(QWidget* widget, int id) { widget->setProperty(kIdProperty, id); }

int ControlIdOf(const QWidget* widget) {
  if (!widget) return -1;
  const QVariant id = widget->property(kIdProperty);
  return id.isValid() ? id.toInt() : -1;
}

QWidget* DialogItem(QWidget* dialog, int id) {
  if (!dialog) return nullptr;
  for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (ControlIdOf(child) == id) return child;
  return nullptr;
}

QWidget* TopLevelOf(QWidget* widget) { return widget ? widget->window() : nullptr; }

Control::Control(QWidget* parent, int id, const char* className)
    : QWidget(parent), className_(className) {
  SetControlId(this, id);
  setObjectName(className);
}

void Control::Notify(int code) { SendCommand(this, Id(), code); }

void Dialog::Command(int id, int code) {
  if (onCommand) onCommand(id, code);
  if (id == IDOK)
    accept();
  else if (id == IDCANCEL)
    reject();
}

void Dialog::SetDefaultId(int id) {
  defaultId_ = id;
  if (auto* button = qobject_cast<QPushButton*>(DialogItem(this, id))) button->setDefault(true);
}

void SendCommand(QWidget* from, int id, int code) {
  for (QWidget* w = from ? from->parentWidget() : nullptr; w; w = w->parentWidget()) {
    if (auto* dialog = dynamic_cast<Dialog*>(w)) {
      dialog->Command(id, code);
      return;
    }
  }
}

void SetWarningPresenter(WarningPresenter presenter) { Presenter() = std::move(presenter); }
void SetBeeper(std::function<void()> beeper) { Beeper() = std::move(beeper); }

void ShowWarning(QWidget* owner, const QString& caption, const QString& text) {
  if (Presenter()) {
    Presenter()(owner, caption, text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

void Beep() {
  if (Beeper())
    Beeper()();
  else
    QApplication::beep();
}

}  // namespace uictl
