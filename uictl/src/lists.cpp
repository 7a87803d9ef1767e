#include "lists.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>

#include "box.h"

namespace uictl {
namespace {

QColor ColorOf(std::uint32_t colorRef) {
  return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

std::uint32_t ColorRefOf(const QColor& color) {
  return static_cast<std::uint32_t>(color.red()) | static_cast<std::uint32_t>(color.green()) << 8 |
         static_cast<std::uint32_t>(color.blue()) << 16;
}

// The text colour of a control's inner widget: gray while undefined.
void ShowDefined(QWidget* inner, bool defined) {
  QPalette palette = inner->palette();
  const QPalette& app = QApplication::palette();
  for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
    for (auto group : {QPalette::Active, QPalette::Inactive})
      palette.setColor(group, role, app.color(defined ? group : QPalette::Disabled, role));
  inner->setPalette(palette);
}

}  // namespace

void ListFamilyControl::Adopt(QWidget* inner) {
  inner_ = inner;
  setFocusProxy(inner_);
  setFocusPolicy(inner_->focusPolicy());
}

void ListFamilyControl::resizeEvent(QResizeEvent*) {
  if (inner_) inner_->setGeometry(rect());
}

void ListFamilyControl::SetDefined(bool defined) {
  defined_ = defined;
  ShowDefined(inner_, defined);
}

bool ListFamilyControl::DispatchState(UINT base, UINT message, LPARAM lParam, LRESULT* result) {
  *result = 0;
  if (message == base)
    setEnabled(HighWord(lParam) != 0);
  else if (message == base + 1)
    *result = isEnabled() ? 1 : 0;
  else if (message == base + 2)
    SetDefined(HighWord(lParam) != 0);
  else if (message == base + 3)
    *result = defined_ ? 1 : 0;
  else
    return false;
  return true;
}

// List box.

ListBox::ListBox(QWidget* parent, int id, const QString& windowText)
    : ListFamilyControl(parent, id, "NSLISTBOX"),
      list_(new QListWidget(this)),
      multiple_(windowText.contains("MULTIPLESEL")) {
  Adopt(list_);
  list_->setSelectionMode(multiple_ ? QAbstractItemView::MultiSelection
                                    : QAbstractItemView::SingleSelection);
  connect(list_, &QListWidget::itemSelectionChanged, this, [this] { Notify(LBN_SELCHANGE); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Notify(LBN_DBLCLK); });
}

LRESULT ListBox::Insert(int index, LPARAM text) {
  if (!text) return LB_ERR;
  if (list_->count() >= kMaxItems) return LB_ERRSPACE;
  if (index < 0 || index > list_->count()) index = list_->count();
  list_->insertItem(index, TextParam(text));
  return index;
}

LRESULT ListBox::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchState(2025, message, lParam, &result)) return result;
  const int count = list_->count();
  const int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
  const bool valid = index >= 0 && index < count;
  const QSignalBlocker quiet(list_);  // the program's changes send no notification
  switch (message) {
    case LB_ADDSTRING: return Insert(count, lParam);
    case LB_INSERTSTRING: return Insert(index, lParam);
    case LB_DELETESTRING:
      if (!valid) return LB_ERR;
      delete list_->takeItem(index);
      return list_->count();
    case LB_RESETCONTENT: list_->clear(); return 0;
    case LB_GETCOUNT: return count;
    case LB_GETCURSEL: {
      if (multiple_) return list_->currentRow() >= 0 ? list_->currentRow() : LB_ERR;
      const auto selected = list_->selectedItems();
      return selected.isEmpty() ? LB_ERR : list_->row(selected.front());
    }
    case LB_SETCURSEL:
      if (multiple_) return LB_ERR;
      if (!valid) {
        list_->clearSelection();
        return index == -1 ? 0 : LB_ERR;
      }
      list_->setCurrentRow(index);
      return index;
    case LB_GETTEXT: {
      if (!valid || !lParam) return LB_ERR;
      const QByteArray utf8 = list_->item(index)->text().toUtf8();
      return CopyText(list_->item(index)->text(), static_cast<WPARAM>(utf8.size()) + 1, lParam);
    }
    case LB_GETTEXTLEN: return valid ? list_->item(index)->text().toUtf8().size() : LB_ERR;
    case LB_GETTOPINDEX: {
      const QModelIndex top = list_->indexAt(QPoint(1, 1));
      return top.isValid() ? top.row() : 0;
    }
    case LB_SETTOPINDEX:
      if (!valid) return LB_ERR;
      list_->scrollToItem(list_->item(index), QAbstractItemView::PositionAtTop);
      return 0;
    case LB_GETITEMDATA:
      return valid ? list_->item(index)->data(Qt::UserRole).value<qint64>() : LB_ERR;
    case LB_SETITEMDATA:
      if (!valid) return LB_ERR;
      list_->item(index)->setData(Qt::UserRole, static_cast<qint64>(lParam));
      return 0;
    case LB_GETSEL: return valid ? (list_->item(index)->isSelected() ? 1 : 0) : LB_ERR;
    case LB_SETSEL: {
      // wParam: select or not; lParam: the item, -1 for all.
      if (!multiple_) return LB_ERR;
      const int item = static_cast<int>(lParam);
      if (item == -1) {
        for (int i = 0; i < count; ++i) list_->item(i)->setSelected(wParam != 0);
        return 0;
      }
      if (item < 0 || item >= count) return LB_ERR;
      list_->item(item)->setSelected(wParam != 0);
      return 0;
    }
    case LB_GETSELCOUNT: return multiple_ ? list_->selectedItems().size() : LB_ERR;
    case LB_GETSELITEMS: {
      // wParam: room in the caller's array of ints at lParam.
      if (!multiple_ || !lParam) return LB_ERR;
      auto* out = reinterpret_cast<int*>(lParam);
      int n = 0;
      for (int i = 0; i < count && n < static_cast<int>(wParam); ++i)
        if (list_->item(i)->isSelected()) out[n++] = i;
      return n;
    }
    case LB_GETHORIZONTALEXTENT: return extent_;
    case LB_SETHORIZONTALEXTENT:
      // The width the items may be scrolled across; wider than the list shows a bar.
      extent_ = static_cast<int>(std::min<WPARAM>(wParam, 32767));
      list_->setHorizontalScrollBarPolicy(
          extent_ > list_->viewport()->width() ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
      return 0;
    case LB_SETITEMHEIGHT: {
      const int height = static_cast<int>(LowWord(lParam));
      if (height <= 0 || height > 255) return LB_ERR;
      list_->setStyleSheet(QStringLiteral("QListWidget::item { height: %1px; }").arg(height));
      return 0;
    }
    default: return 0;
  }
}

// Combo box.

ComboBox::ComboBox(QWidget* parent, int id, const char* className, const QString& windowText)
    : ListFamilyControl(parent, id, className), combo_(new QComboBox(this)) {
  Adopt(combo_);
  combo_->setEditable(!windowText.contains("DROPDOWNLIST"));
  combo_->setInsertPolicy(QComboBox::NoInsert);
  connect(combo_, &QComboBox::currentIndexChanged, this, [this] {
    if (notify_) Notify(CBN_SELCHANGE);
  });
  if (combo_->lineEdit())
    connect(combo_->lineEdit(), &QLineEdit::textEdited, this, [this] { Notify(CBN_EDITCHANGE); });
}

LRESULT ComboBox::Insert(int index, LPARAM text) {
  if (!text) return CB_ERR;
  if (combo_->count() >= kMaxItems) return CB_ERRSPACE;
  if (index < 0 || index > combo_->count()) index = combo_->count();
  combo_->insertItem(index, TextParam(text));
  return index;
}

LRESULT ComboBox::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchState(2025, message, lParam, &result)) return result;
  const int count = combo_->count();
  const int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
  const bool valid = index >= 0 && index < count;
  notify_ = false;  // the program's changes send no notification
  struct Restore {
    bool& flag;
    ~Restore() { flag = true; }
  } restore{notify_};
  switch (message) {
    case CB_ADDSTRING: return Insert(count, lParam);
    case CB_INSERTSTRING: return Insert(index, lParam);
    case CB_DELETESTRING:
      if (!valid) return CB_ERR;
      combo_->removeItem(index);
      return combo_->count();
    case CB_RESETCONTENT: combo_->clear(); return 0;
    case CB_GETCOUNT: return count;
    case CB_GETCURSEL: return combo_->currentIndex() >= 0 ? combo_->currentIndex() : CB_ERR;
    case CB_SETCURSEL: combo_->setCurrentIndex(valid ? index : -1); return valid ? index : CB_ERR;
    case CB_GETLBTEXT: {
      if (!valid || !lParam) return CB_ERR;
      const QString text = combo_->itemText(index);
      return CopyText(text, static_cast<WPARAM>(text.toUtf8().size()) + 1, lParam);
    }
    case CB_GETLBTEXTLEN: return valid ? combo_->itemText(index).toUtf8().size() : CB_ERR;
    case CB_LIMITTEXT:
      if (!combo_->lineEdit()) return 0;
      combo_->lineEdit()->setMaxLength(
          wParam == 0 ? 32767 : static_cast<int>(std::min<WPARAM>(wParam, 32767)));
      return 1;
    case CB_SHOWDROPDOWN:
      if (wParam)
        combo_->showPopup();
      else
        combo_->hidePopup();
      return 1;
    case WM_SETTEXT:
      if (combo_->lineEdit())
        combo_->lineEdit()->setText(TextParam(lParam));
      else
        combo_->setCurrentIndex(combo_->findText(TextParam(lParam)));
      return 1;
    case WM_GETTEXT: return CopyText(combo_->currentText(), wParam, lParam);
    case 2029: {  // set height: the height plus one in the high word
      const int height = static_cast<int>(HighWord(lParam)) - 1;
      if (height <= 0) return CB_ERR;
      const int row = std::max(1, combo_->view()->sizeHintForRow(0));
      combo_->setMaxVisibleItems(std::max(1, height / row));
      return 0;
    }
    default: return 0;
  }
}

// Check box.

CheckBox::CheckBox(QWidget* parent, int id, const QString& windowText)
    : ListFamilyControl(parent, id, "NSCHECKBOX"), box_(new QCheckBox(windowText, this)) {
  Adopt(box_);
  connect(box_, &QCheckBox::clicked, this, [this] { Notify(BN_CLICKED); });
}

LRESULT CheckBox::Dispatch(UINT message, WPARAM, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchState(2025, message, lParam, &result)) return result;
  switch (message) {
    case 2029: box_->setChecked(HighWord(lParam) != 0); return 0;
    case 2030: return box_->isChecked() ? 1 : 0;
    default: return 0;
  }
}

// Track bar.

TrackBar::TrackBar(QWidget* parent, int id)
    : ListFamilyControl(parent, id, "NSTRACKBAR"),
      slider_(new QSlider(Qt::Horizontal, this)),
      background_(ColorRefOf(palette().color(QPalette::Window))) {
  Adopt(slider_);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setRange(0, 100);
  connect(slider_, &QSlider::valueChanged, this, [this] {
    if (notify_) Notify(TBN_POSCHANGED);
  });
}

LRESULT TrackBar::Dispatch(UINT message, WPARAM, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchState(1140, message, lParam, &result)) return result;
  const auto value = static_cast<std::int16_t>(HighWord(lParam));
  notify_ = false;
  struct Restore {
    bool& flag;
    ~Restore() { flag = true; }
  } restore{notify_};
  switch (message) {
    case 1124: return slider_->value();
    case 1125: return slider_->minimum();
    case 1126: return slider_->maximum();
    case 1127: return slider_->singleStep();
    case 1128: return slider_->pageStep();
    case 1129: slider_->setValue(value); return 0;
    case 1130: slider_->setMinimum(value); return 0;
    case 1131: slider_->setMaximum(value); return 0;
    case 1132: slider_->setSingleStep(std::max<int>(1, value)); return 0;
    case 1133: slider_->setPageStep(std::max<int>(1, value)); return 0;
    case 1134: slider_->setTickInterval(std::max<int>(0, value)); return 0;
    case 1135: return slider_->tickInterval();
    case 1136: return bigStepFrequency_;
    case 1137: bigStepFrequency_ = std::max<int>(0, value); return 0;
    case 1138: {
      background_ = static_cast<std::uint32_t>(lParam) & 0xFFFFFF;
      QPalette palette = slider_->palette();
      palette.setColor(QPalette::Window, ColorOf(background_));
      slider_->setPalette(palette);
      slider_->setAutoFillBackground(true);
      return 0;
    }
    case 1139: return background_;
    default: return 0;
  }
}

}  // namespace uictl
