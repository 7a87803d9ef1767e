// Window classes by name, and dialogs described in text that name them.
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include <functional>
#include <map>

#include "address_box.h"
#include "box.h"
#include "indicators.h"
#include "lists.h"
#include "spin.h"
#include "uictl/controls.h"

namespace uictl {
namespace {

using Maker = std::function<Control*(QWidget* parent, int id, const QString& text)>;

const std::map<std::string, Maker>& Makers() {
  static const std::map<std::string, Maker> makers = {
      {"NSIPADDRESSBOX",
       [](QWidget* p, int id, const QString&) { return new AddressBox(p, id, false); }},
      {"NSNWADDRESSBOX",
       [](QWidget* p, int id, const QString&) { return new AddressBox(p, id, true); }},
      {"NSDECIBOX",
       [](QWidget* p, int id, const QString& t) { return new DeciBox(p, id, t, false); }},
      {"NSDECIBOXEX",
       [](QWidget* p, int id, const QString& t) { return new DeciBox(p, id, t, true); }},
      {"NSHEXABOX", [](QWidget* p, int id, const QString&) { return new HexaBox(p, id); }},
      {"NSEDITBOX",
       [](QWidget* p, int id, const QString&) { return new EditBox(p, id, "NSEDITBOX", 32); }},
      {"NSEDITBOXEX",
       [](QWidget* p, int id, const QString&) { return new EditBox(p, id, "NSEDITBOXEX", 16); }},
      {"NSDNSHBOX",
       [](QWidget* p, int id, const QString&) {
         return new NameBox(p, id, "NSDNSHBOX", Family::DnsHost, 63, 25);
       }},
      {"NSDNSDBOX",
       [](QWidget* p, int id, const QString&) {
         return new NameBox(p, id, "NSDNSDBOX", Family::DnsDomain, 64, 26);
       }},
      {"NSURIBOX",
       [](QWidget* p, int id, const QString&) {
         return new NameBox(p, id, "NSURIBOX", Family::Uri, 255, 23);
       }},
      {"NSAPPLETALKNAMEBOX",
       [](QWidget* p, int id, const QString&) {
         return new NameBox(p, id, "NSAPPLETALKNAMEBOX", Family::AppleTalk, 31, 12);
       }},
      {"NSEB1NAMEBOX",
       [](QWidget* p, int id, const QString&) {
         return new NameBox(p, id, "NSEB1NAMEBOX", Family::Eb1Name, 19, 0);
       }},
      {"NSSVRNAMEBOX",
       [](QWidget* p, int id, const QString&) {
         return new NameBox(p, id, "NSSVRNAMEBOX", Family::ServerName, 19, 0);
       }},
      {"NSLISTBOX", [](QWidget* p, int id, const QString& t) { return new ListBox(p, id, t); }},
      {"NSCOMBOBOX",
       [](QWidget* p, int id, const QString& t) { return new ComboBox(p, id, "NSCOMBOBOX", t); }},
      {"NSCOMBOBOXEX",
       [](QWidget* p, int id, const QString& t) { return new ComboBox(p, id, "NSCOMBOBOXEX", t); }},
      {"NSCHECKBOX", [](QWidget* p, int id, const QString& t) { return new CheckBox(p, id, t); }},
      {"NSTRACKBAR", [](QWidget* p, int id, const QString&) { return new TrackBar(p, id); }},
      {"NSSPINBOX", [](QWidget* p, int id, const QString& t) { return new SpinBox(p, id, t); }},
      {"NSMICROSCROLL", [](QWidget* p, int id, const QString&) { return new MicroScroll(p, id); }},
      {"NSGAUGE", [](QWidget* p, int id, const QString& t) { return new Gauge(p, id, t); }},
      {"NSONLINELED",
       [](QWidget* p, int id, const QString& t) { return new Lamp(p, id, t, false); }},
      {"NSCHECKMARK",
       [](QWidget* p, int id, const QString& t) { return new Lamp(p, id, t, true); }},
      {"NSINDICATORBUTTON",
       [](QWidget* p, int id, const QString&) { return new IndicatorButton(p, id); }},
      {"NSSTATUS", [](QWidget* p, int id, const QString& t) { return new StatusText(p, id, t); }},
      {"NSOUTPUTLEVEL4",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSOUTPUTLEVEL4"); }},
      {"NSOUTPUTLEVEL5",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSOUTPUTLEVEL5"); }},
      {"NSREMAIN", [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSREMAIN"); }},
      {"NSREMAINLARGE",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSREMAINLARGE"); }},
      {"NSREMAINSMALL",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSREMAINSMALL"); }},
      {"NSPAPERREMAIN",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSPAPERREMAIN"); }},
      {"NSPAPERREMAIN4",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSPAPERREMAIN4"); }},
      {"NSPAPERREMAIN4S",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSPAPERREMAIN4S"); }},
      {"NSPAPERREMAIN5",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSPAPERREMAIN5"); }},
      {"NSPAPERREMAIN5L",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSPAPERREMAIN5L"); }},
      {"NSPAPERREMAIN5S",
       [](QWidget* p, int id, const QString&) { return new Level(p, id, "NSPAPERREMAIN5S"); }},
  };
  return makers;
}

// The items of one description line: words and "quoted strings".
QStringList Items(const QString& line) {
  static const QRegularExpression item(R"re("((?:[^"\\]|\\.)*)"|(\S+))re");
  QStringList items;
  for (auto it = item.globalMatch(line); it.hasNext();) {
    const auto m = it.next();
    items << (m.capturedStart(1) >= 0 ? m.captured(1).replace("\\\"", "\"") : m.captured(2));
  }
  return items;
}

}  // namespace

const std::vector<std::string>& ClassNames() {
  static const std::vector<std::string> names = {"NSAPPLETALKNAMEBOX",
                                                 "NSCHECKBOX",
                                                 "NSCHECKMARK",
                                                 "NSCOMBOBOX",
                                                 "NSCOMBOBOXEX",
                                                 "NSDECIBOX",
                                                 "NSDECIBOXEX",
                                                 "NSDNSDBOX",
                                                 "NSDNSHBOX",
                                                 "NSEB1NAMEBOX",
                                                 "NSEDITBOX",
                                                 "NSEDITBOXEX",
                                                 "NSGAUGE",
                                                 "NSHEXABOX",
                                                 "NSINDICATORBUTTON",
                                                 "NSIPADDRESSBOX",
                                                 "NSLISTBOX",
                                                 "NSMICROSCROLL",
                                                 "NSNWADDRESSBOX",
                                                 "NSONLINELED",
                                                 "NSOUTPUTLEVEL4",
                                                 "NSOUTPUTLEVEL5",
                                                 "NSREMAIN",
                                                 "NSREMAINLARGE",
                                                 "NSREMAINSMALL",
                                                 "NSPAPERREMAIN",
                                                 "NSPAPERREMAIN4",
                                                 "NSPAPERREMAIN4S",
                                                 "NSPAPERREMAIN5",
                                                 "NSPAPERREMAIN5L",
                                                 "NSPAPERREMAIN5S",
                                                 "NSSPINBOX",
                                                 "NSSTATUS",
                                                 "NSSVRNAMEBOX",
                                                 "NSTRACKBAR",
                                                 "NSURIBOX"};
  return names;
}

bool IsRegisteredClass(const std::string& className) { return Makers().count(className) != 0; }

Control* CreateControl(const std::string& className, QWidget* parent, int id,
                       const QString& windowText) {
  const auto it = Makers().find(className);
  return it == Makers().end() ? nullptr : it->second(parent, id, windowText);
}

std::unique_ptr<Dialog> LoadDialog(const QString& description, QString* error) {
  auto dialog = std::make_unique<Dialog>();
  int lineNumber = 0;
  auto fail = [&](const QString& why) {
    if (error) *error = QStringLiteral("line %1: %2").arg(lineNumber).arg(why);
    return nullptr;
  };
  for (const QString& raw : description.split('\n')) {
    ++lineNumber;
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    const QStringList items = Items(line);
    const QString kind = items.value(0);
    if (kind == "DIALOG") {
      bool okW = false, okH = false;
      const int w = items.value(2).toInt(&okW), h = items.value(3).toInt(&okH);
      if (items.size() != 4 || !okW || !okH || w <= 0 || h <= 0) return fail("bad DIALOG line");
      dialog->setWindowTitle(items[1]);
      dialog->resize(w, h);
      continue;
    }
    if (kind != "CONTROL" && kind != "PUSHBUTTON" && kind != "DEFPUSHBUTTON" && kind != "LTEXT")
      return fail("unknown item " + kind);
    if (items.size() != 7 && !(kind == "CONTROL" && items.size() == 8))
      return fail("wrong number of fields");
    int numbers[5];
    for (int i = 0; i < 5; ++i) {
      bool ok = false;
      numbers[i] = items[2 + i].toInt(&ok);
      if (!ok) return fail("not a number: " + items[2 + i]);
    }
    const QRect geometry(numbers[1], numbers[2], numbers[3], numbers[4]);
    QWidget* widget = nullptr;
    if (kind == "CONTROL") {
      widget = CreateControl(items[1].toStdString(), dialog.get(), numbers[0], items.value(7));
      if (!widget) return fail("unknown window class " + items[1]);
    } else if (kind == "LTEXT") {
      widget = new QLabel(items[1], dialog.get());
      SetControlId(widget, numbers[0]);
    } else {
      auto* button = new QPushButton(items[1], dialog.get());
      SetControlId(button, numbers[0]);
      widget = button;
      if (kind == "DEFPUSHBUTTON") dialog->SetDefaultId(numbers[0]);
    }
    widget->move(geometry.topLeft());
    // A control of a fixed size (the address boxes) keeps its own.
    if (widget->minimumSize() != widget->maximumSize()) widget->resize(geometry.size());
  }
  return dialog;
}

}  // namespace uictl
