// The binding layer of nebrix.pc.desktop_access: the module values and the class
// DesktopAccess, whose parts register their own methods.
#include "desktop_access/core.hpp"
#include "desktop_access/desktop_access.hpp"
#include "desktop_access/keys.hpp"
#include "desktop_access/linux.hpp"
#include "desktop_access/macos.hpp"
#include "desktop_access/windows.hpp"

PYBIND11_MODULE(desktop_access, m) {
  m.doc() = "Cross-platform accessibility controller: snapshots with numbered refs and ref-based actions.";
  m.attr("SYSTEM") = support::import("platform").attr("system")();
  // Interpreters that may have the AT-SPI2 bindings when python3 on PATH has not.
  m.attr("_SYSTEM_PYTHONS") = py::make_tuple("/usr/bin/python3");
  // Seconds a Linux snapshot may take, read at each snapshot.
  m.attr("SNAPSHOT_TIMEOUT") = 15.0;
  m.attr("logger") = desktop_access::kLog.get();
  m.attr("INTERACTIVE_TYPES") = py::set(py::make_tuple(  // Windows UI Automation control types
      "Button", "CheckBox", "ComboBox", "Edit", "Hyperlink", "ListItem", "MenuItem", "MenuBar", "Menu",
      "RadioButton", "Slider", "Spinner", "Tab", "TabItem", "TreeItem", "DataItem", "Document", "SplitButton",
      "ToolBar",
      // macOS accessibility roles
      "AXButton", "AXCheckBox", "AXComboBox", "AXTextField", "AXLink", "AXMenuItem", "AXMenuBar",
      "AXRadioButton", "AXSlider", "AXTabGroup", "AXTextArea", "AXPopUpButton",
      // AT-SPI role names
      "push button", "check box", "combo box", "text", "link", "menu item", "menu bar", "radio button",
      "slider", "page tab", "tree item", "list item"));
  m.attr("CONTEXT_TYPES") = py::set(py::make_tuple(
      "Text", "StatusBar", "Header", "HeaderItem", "Group", "TitleBar", "Window", "Pane", "AXStaticText",
      "AXGroup", "AXWindow", "AXScrollArea", "label", "status bar", "panel", "frame", "filler"));

  support::PlainClass methods(
      m, "DesktopAccess",
      "Cross-platform accessibility controller: accessibility tree snapshots and ref-based interaction for "
      "native applications on Windows, macOS and Linux.");
  desktop_access::register_core(methods);
  desktop_access::register_keys(methods);
  desktop_access::register_linux_rendering(methods);
  desktop_access::register_linux_snapshot(methods);
  desktop_access::register_linux_actions(methods);
  desktop_access::register_linux_queries(methods);
  desktop_access::uia::register_snapshot(methods);
  desktop_access::uia::register_actions(methods);
  desktop_access::uia::register_window_queries(methods);
  desktop_access::register_macos_snapshot(methods);
  desktop_access::register_macos_actions(methods);
  desktop_access::register_macos_queries(methods);
  desktop_access::register_key_functions(m);
}
