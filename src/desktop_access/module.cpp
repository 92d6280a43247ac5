#include "support/python.hpp"

namespace {

py::set make_set(std::initializer_list<const char*> names) {
  py::set set;
  for (const char* name : names) {
    set.add(py::str(name));
  }
  return set;
}

}  // namespace

PYBIND11_MODULE(desktop_access, m) {
  m.doc() = "Cross-platform accessibility controller: snapshots with numbered refs and ref-based actions.";
  m.attr("SYSTEM") = support::import("platform").attr("system")();
  m.attr("logger") = support::import("logging").attr("getLogger")("nebrix.pc.desktop");
  m.attr("INTERACTIVE_TYPES") = make_set({
      // Windows UI Automation control types
      "Button", "CheckBox", "ComboBox", "Edit", "Hyperlink", "ListItem", "MenuItem", "MenuBar", "Menu",
      "RadioButton", "Slider", "Spinner", "Tab", "TabItem", "TreeItem", "DataItem", "Document",
      "SplitButton", "ToolBar",
      // macOS accessibility roles
      "AXButton", "AXCheckBox", "AXComboBox", "AXTextField", "AXLink", "AXMenuItem", "AXMenuBar",
      "AXRadioButton", "AXSlider", "AXTabGroup", "AXTextArea", "AXPopUpButton",
      // AT-SPI role names
      "push button", "check box", "combo box", "text", "link", "menu item", "menu bar", "radio button",
      "slider", "page tab", "tree item", "list item"});
  m.attr("CONTEXT_TYPES") = make_set({
      "Text", "StatusBar", "Header", "HeaderItem", "Group", "TitleBar", "Window", "Pane",
      "AXStaticText", "AXGroup", "AXWindow", "AXScrollArea",
      "label", "status bar", "panel", "frame", "filler"});
}
