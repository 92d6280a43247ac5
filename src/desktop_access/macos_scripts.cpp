#include "desktop_access/macos_scripts.hpp"

#include "desktop_access/applescript.hpp"

namespace desktop_access::macos_scripts {

namespace {

constexpr std::string_view kSystemEvents = "tell application \"System Events\"";

// oneLine(t): t as text with its line breaks turned into spaces. The answers are read
// line by line, so a name or value holding a line break (a text area, a web page's
// title) would otherwise split its line, lose the element, and let the rest of the text
// pass for lines of its own: made-up elements or windows.
constexpr std::string_view kOneLineHandler =
    "on oneLine(t)\n"
    "set savedDelimiters to AppleScript's text item delimiters\n"
    "set AppleScript's text item delimiters to {return & linefeed, return, linefeed}\n"
    "set parts to text items of (t as text)\n"
    "set AppleScript's text item delimiters to \" \"\n"
    "set flat to parts as text\n"
    "set AppleScript's text item delimiters to savedDelimiters\n"
    "return flat\n"
    "end oneLine\n";

// Reads `property` of elem (followed by `conversion`) into `variable`, on one line: the
// empty text when it is missing value or cannot be read.
std::string read_text_property(std::string_view variable, std::string_view property,
                               std::string_view conversion = "") {
  std::string lines;
  lines.append("set ").append(variable).append(" to \"\"\n");
  lines.append("try\n");
  lines.append("set ").append(variable).append(" to ").append(property).append(" of elem");
  lines.append(conversion).append("\n");
  lines.append("if ")
      .append(variable)
      .append(" is missing value then set ")
      .append(variable)
      .append(" to \"\"\n");
  lines.append("set ").append(variable).append(" to my oneLine(").append(variable).append(")\n");
  lines.append("end try\n");
  return lines;
}

// Runs `body` for each window w of process p; a process whose windows cannot be read
// is passed over.
std::string for_each_window_of_p(std::string_view body) {
  std::string loop;
  loop.append("try\n");
  loop.append("repeat with w in (every window of p)\n");
  loop.append(body);
  loop.append("end repeat\n");
  loop.append("end try\n");
  return loop;
}

// Runs `action` for each window w of process p whose name contains `title`.
std::string for_window_named(std::string_view title, std::string_view action) {
  return for_each_window_of_p(std::string("if name of w contains ")
                                  .append(applescript_string(title))
                                  .append(" then\n")
                                  .append(action)
                                  .append("end if\n"));
}

constexpr std::string_view kForEachVisibleProcess =
    "repeat with p in (every process whose visible is true)\n";

// `tell process "{app}"`, brought to the front so that its window 1 is the one the
// user sees, around `body`.
std::string in_front_process(std::string_view app, std::string_view body) {
  std::string script(kOneLineHandler);
  script.append(kSystemEvents).append("\ntell process ").append(applescript_string(app)).append("\n");
  script.append("set frontmost to true\n");
  script.append("delay 0.2\n");
  script.append(body);
  script.append("end tell\nend tell");
  return script;
}

// Runs `action` on the first element of window 1 whose title or description is `name`
// and answers `success_word`. A failing action answers its error rather than moving on
// to the next element of that name.
std::string on_named_element(std::string_view app, std::string_view name, std::string_view action,
                             std::string_view success_word) {
  const std::string literal = applescript_string(name);
  std::string body;
  body.append("try\n");
  body.append("repeat with elem in (entire contents of window 1)\n");
  body.append(read_text_property("elemTitle", "title"));
  body.append(read_text_property("elemDesc", "description"));
  body.append("if elemTitle is ")
      .append(literal)
      .append(" or elemDesc is ")
      .append(literal)
      .append(" then\n");
  body.append(action);
  body.append("return ").append(applescript_string(success_word)).append("\n");
  body.append("end if\n");
  body.append("end repeat\n");
  body.append("return \"not_found\"\n");
  body.append("on error errMsg\n");
  body.append("return \"error:\" & errMsg\n");
  body.append("end try\n");
  return in_front_process(app, body);
}

}  // namespace

std::string frontmost_process() {
  return std::string(kSystemEvents).append(" to get name of first process whose frontmost is true");
}

std::string process_with_window(std::string_view title) {
  std::string script(kSystemEvents);
  script.append("\nset targetApp to \"\"\n");
  script.append(kForEachVisibleProcess);
  script.append(for_window_named(title, "set targetApp to name of p\nexit repeat\n"));
  script.append("if targetApp is not \"\" then exit repeat\n");
  script.append("end repeat\n");
  script.append("return targetApp\n");
  script.append("end tell");
  return script;
}

std::string element_tree(std::string_view app) {
  const std::string app_literal = applescript_string(app);
  std::string body;
  body.append("set output to \"\"\n");
  body.append("try\n");
  body.append("set winName to name of window 1\n");
  body.append("if winName is missing value or winName is \"\" then set winName to ")
      .append(app_literal)
      .append("\n");
  body.append("set winName to my oneLine(winName)\n");
  body.append("on error\n");
  body.append("set winName to ").append(app_literal).append("\n");
  body.append("end try\n");
  body.append("set output to output & \"Window: \" & winName & linefeed & linefeed\n");
  body.append("try\n");
  body.append("repeat with elem in (entire contents of window 1)\n");
  body.append("try\n");
  body.append("set elemRole to role of elem\n");
  body.append(read_text_property("elemDesc", "description"));
  body.append(read_text_property("elemTitle", "title"));
  body.append(read_text_property("elemValue", "value", " as text"));
  body.append("set elemEnabled to true\n");
  body.append("try\n");
  body.append("set elemEnabled to enabled of elem\n");
  body.append("end try\n");
  body.append(
      "set output to output & elemRole & \"|\" & elemTitle & \"|\" & elemDesc & \"|\" & elemValue & \"|\" & "
      "(elemEnabled as text) & linefeed\n");
  body.append("end try\n");
  body.append("end repeat\n");
  body.append("on error errMsg\n");
  body.append("set output to output & \"Error reading UI: \" & errMsg\n");
  body.append("end try\n");
  body.append("return output\n");
  return in_front_process(app, body);
}

std::string click_element(std::string_view app, std::string_view name) {
  return on_named_element(app, name, "click elem\n", "clicked");
}

std::string type_into_element(std::string_view app, std::string_view name, std::string_view text,
                              bool clear_first, bool press_enter) {
  std::string action("click elem\ndelay 0.1\n");
  if (clear_first) {
    action.append("keystroke \"a\" using command down\n");
  }
  action.append("delay 0.05\n");
  action.append("keystroke ").append(applescript_string(text)).append("\n");
  if (press_enter) {
    action.append("keystroke return\n");
  }
  return on_named_element(app, name, action, "typed");
}

std::string first_window_name(std::string_view app) {
  return std::string(kSystemEvents)
      .append(" to get name of window 1 of process ")
      .append(applescript_string(app));
}

std::string window_list() {
  std::string script(kOneLineHandler);
  script.append(kSystemEvents).append("\nset output to \"\"\n");
  script.append(kForEachVisibleProcess);
  script.append("set pName to name of p\n");
  script.append(for_each_window_of_p(
      "set output to output & my oneLine(pName) & \"|\" & my oneLine(name of w) & linefeed\n"));
  script.append("end repeat\n");
  script.append("return output\n");
  script.append("end tell");
  return script;
}

std::string focus_window(std::string_view title) {
  std::string script(kSystemEvents);
  script.append("\n").append(kForEachVisibleProcess);
  script.append(for_window_named(title, "set frontmost of p to true\nreturn name of p\n"));
  script.append("end repeat\n");
  script.append("return \"\"\n");
  script.append("end tell");
  return script;
}

}  // namespace desktop_access::macos_scripts
