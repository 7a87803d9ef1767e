// The custom controls as Qt widgets: the base every control derives from, the
// dialog that receives their notifications, the factory that makes a control
// from its window class name, and the dialog description that names controls by
// class.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace uictl {

using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT EM_LIMITTEXT = 0x00C5;

// Notification codes passed to the dialog with a control's identifier.
inline constexpr int EN_SETFOCUS = 0x0100;
inline constexpr int EN_KILLFOCUS = 0x0200;
inline constexpr int EN_CHANGE = 0x0300;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The identifier of the child edit of a box control.
inline constexpr int kBoxEditId = 1000;

// Flags and single values travel in the high word of the second parameter.
constexpr LPARAM MakeLParam(unsigned low, unsigned high) {
  return static_cast<LPARAM>(static_cast<std::uint32_t>((low & 0xFFFF) | (high << 16)));
}
constexpr unsigned HighWord(LPARAM l) { return (static_cast<std::uint32_t>(l) >> 16) & 0xFFFF; }
constexpr unsigned LowWord(LPARAM l) { return static_cast<std::uint32_t>(l) & 0xFFFF; }

// Any widget's dialog identifier (a dynamic property; -1 when none).
void SetControlId(QWidget* widget, int id);
int ControlIdOf(const QWidget* widget);
// The child of dialog with the identifier, or null (GetDlgItem).
QWidget* DialogItem(QWidget* dialog, int id);
// The first ancestor that is a window of its own; warnings are owned by it.
QWidget* TopLevelOf(QWidget* widget);

// A custom control: one window class, answering its family's messages through
// Dispatch.
class Control : public QWidget {
 public:
  Control(QWidget* parent, int id, const char* className);
  const char* ClassName() const { return className_; }
  int Id() const { return ControlIdOf(this); }
  // The family's private and standard messages; the result as the message's.
  virtual LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) = 0;

 protected:
  // WM_COMMAND to the dialog with this control's identifier and the code.
  void Notify(int code);

 private:
  const char* className_;
};

// A dialog that receives its controls' commands (WM_COMMAND): IDOK accepts,
// IDCANCEL rejects, every command is also given to onCommand.
class Dialog : public QDialog {
 public:
  explicit Dialog(QWidget* parent = nullptr) : QDialog(parent) {}
  void Command(int id, int code);
  std::function<void(int id, int code)> onCommand;
  // The identifier of the default push button (DM_GETDEFID); -1 when none.
  int DefaultId() const { return defaultId_; }
  void SetDefaultId(int id);

 private:
  int defaultId_ = -1;
};

// WM_COMMAND from widget to its dialog (the nearest Dialog ancestor).
void SendCommand(QWidget* from, int id, int code);

// Makes the control of a registered window class ("NSIPADDRESSBOX", ...) with
// its identifier and window text; null for a class the library does not know.
Control* CreateControl(const std::string& className, QWidget* parent, int id,
                       const QString& windowText = {});
// Every window class name, and whether the library builds it.
const std::vector<std::string>& ClassNames();
bool IsRegisteredClass(const std::string& className);

// A dialog from its description, one item a line ("#" starts a comment):
//   DIALOG "caption" width height
//   CONTROL "class" id x y width height ["window text"]
//   PUSHBUTTON "text" id x y width height      (DEFPUSHBUTTON: the default one)
//   LTEXT "text" id x y width height
// Null with *error set when a line cannot be read or names an unknown class.
std::unique_ptr<Dialog> LoadDialog(const QString& description, QString* error);

// How warnings are shown and refused keys signalled: by default a modal
// warning box owned by the top-level window, and QApplication::beep.
using WarningPresenter =
    std::function<void(QWidget* owner, const QString& caption, const QString& text)>;
void SetWarningPresenter(WarningPresenter presenter);
void SetBeeper(std::function<void()> beeper);
void ShowWarning(QWidget* owner, const QString& caption, const QString& text);
void Beep();

}  // namespace uictl
