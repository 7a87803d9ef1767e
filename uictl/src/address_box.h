// The address boxes: the IP address box ("NSIPADDRESSBOX", four decimal fields
// 101 - 104) and the NetWare address box ("NSNWADDRESSBOX", an 8-digit network
// and a 12-digit node field), which check each field as it is typed.
#pragma once

#include <QLineEdit>
#include <QString>

#include <vector>

#include "uictl/controls.h"

namespace uictl {

class AddressBox : public Control {
 public:
  AddressBox(QWidget* parent, int id, bool netWare);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  QLineEdit* Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  int IndexOf(QObject* field) const;
  bool FieldInRange(int index) const;
  void FieldChanged(int index);
  bool FieldKey(int index, class QKeyEvent* key);
  bool MoveField(int index, bool forward);
  void FocusTabStop(bool previous);
  void FocusField(int index, bool selectAll);
  void WarnRange(int index);
  void SetFieldQuietly(int index, const QString& text);
  void UpdateLook();

  bool netWare_;
  std::vector<QLineEdit*> fields_;
  std::vector<QString> lastGood_;  // each field's text before the last refused edit
  bool changed_ = false;
  bool defined_ = true;
  bool notify_ = true;
  bool focusInside_ = false;
};

}  // namespace uictl
