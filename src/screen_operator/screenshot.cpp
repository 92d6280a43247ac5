// The screenshot action: capture, scale to the API size, PNG and base64 for the model,
// a copy in ~/.nebrix/screenshots/latest.png; a platform command when capture fails.
#include "screen_operator/capture.hpp"
#include "screen_operator/executor.hpp"
#include "screen_operator/results.hpp"
#include "screen_operator/state.hpp"

#include <string>

namespace screen_operator {

using namespace py::literals;

namespace {

constexpr int kBicubic = 3;  // Pillow's Resampling.BICUBIC
constexpr double kCaptureTimeLimit = 5.0;
constexpr double kPowershellTimeLimit = 10.0;
// zlib's fastest level: the PNG comes out about a fifth larger than with Pillow's
// optimize option and many times faster; it decodes to the same pixels.
constexpr int kPngCompressLevel = 1;

// ~/.nebrix/screenshots/latest.png as text, its directory created.
py::str screenshot_file() {
  py::object directory =
      support::import("pathlib").attr("Path").attr("home")().attr("joinpath")(".nebrix", "screenshots");
  directory.attr("mkdir")("parents"_a = true, "exist_ok"_a = true);
  return py::str(directory.attr("joinpath")("latest.png"));
}

// The image at the size the model's coordinates refer to.
py::object scaled_for_model(const Geometry& geometry, py::object image) {
  if (geometry.scale_factor >= 1.0) {
    return image;
  }
  return image.attr("resize")(py::make_tuple(geometry.api.width, geometry.api.height),
                              "resample"_a = kBicubic);
}

// The PNG of the image, in a buffer of its own.
py::object png_of(const py::object& image) {
  py::object png = support::import("io").attr("BytesIO")();
  image.attr("save")(png, "format"_a = "PNG", "compress_level"_a = kPngCompressLevel);
  return png.attr("getbuffer")();
}

py::str base64_of(const py::object& png) {
  const py::buffer_info view = py::reinterpret_borrow<py::buffer>(png).request();
  const auto size = static_cast<std::size_t>(view.size * view.itemsize);
  auto text = support::steal<py::str>(PyUnicode_New(static_cast<Py_ssize_t>(base64_length(size)), 127));
  {
    // The text is new and not yet shared, so it can be filled without the GIL.
    char* out = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.ptr()));
    py::gil_scoped_release unlocked;
    encode_base64(static_cast<const unsigned char*>(view.ptr), size, out);
  }
  return text;
}

// Writes the PNG's bytes to `path`, opened as Pillow opens a file it saves an image to,
// so a failure reads the same as it would from Pillow.
void write_png_file(const py::str& path, const py::object& png) {
  py::object file = support::import("builtins").attr("open")(path, "w+b");
  try {
    file.attr("write")(png);
  } catch (py::error_already_set&) {
    support::catch_ordinary([&] { file.attr("close")(); }, [](py::error_already_set&) {});
    throw;
  }
  file.attr("close")();
}

// Pillow's in-memory grab of the X screen, where it gives what pyautogui.screenshot()
// would: while that is still pyscreeze's own Linux capture and pyscreeze would read the
// X screen (Pillow's grab when gnome-screenshot exists, else scrot on X11). It saves a
// scrot run and a PNG round trip. Empty where it does not apply or fails, so a host that
// replaced the capture still has its replacement called.
py::object x_screen_grab(const py::handle library_capture) {
  return support::catch_ordinary(
      [&]() -> py::object {
        // Only a pyscreeze already imported (pyautogui imports it): None otherwise.
        py::object pyscreeze = support::import("sys").attr("modules").attr("get")("pyscreeze");
        if (pyscreeze.is_none() || !library_capture.is(pyscreeze.attr("_screenshot_linux"))) {
          return py::object();
        }
        const auto truthy = [&](const char* name) { return support::args::to_bool(pyscreeze.attr(name)); };
        if (!truthy("GNOMESCREENSHOT_EXISTS") && !(truthy("RUNNING_X11") && truthy("SCROT_EXISTS"))) {
          return py::object();
        }
        py::object display = support::import("os").attr("environ").attr("get")("DISPLAY");
        if (!support::args::to_bool(display)) {
          return py::object();
        }
        return support::import("PIL.ImageGrab").attr("grab")("xdisplay"_a = display);
      },
      [](py::error_already_set&) { return py::object(); });
}

py::object capture_screen() {
  py::object library_capture = support::import("pyautogui").attr("screenshot");
  if (py::object image = x_screen_grab(library_capture)) {
    return image;
  }
  return library_capture();
}

struct CaptureCommand {
  py::list argv;  // empty when the platform has no command
  double time_limit = kCaptureTimeLimit;
};

CaptureCommand capture_command(const py::object& system, const py::str& path) {
  CaptureCommand command;
  if (system.equal(py::str("Linux"))) {
    py::object host_command = support::import("nebrix.pc.platform_utils").attr("get_screenshot_command")();
    if (support::args::to_bool(host_command)) {
      for (py::handle argument : host_command) command.argv.append(argument);
    } else {
      command.argv = py::list(py::make_tuple("scrot", "-o"));
    }
    command.argv.append(path);
  } else if (system.equal(py::str("Darwin"))) {
    command.argv = py::list(py::make_tuple("screencapture", "-x", path));
  } else if (system.equal(py::str("Windows"))) {
    command.argv = py::list(py::make_tuple("powershell", "-Command",
                                           py::str(powershell_capture_script(path.cast<std::string>()))));
    command.time_limit = kPowershellTimeLimit;
  }
  return command;
}

}  // namespace

py::object take_screenshot(py::object self, const Params&) {
  py::object image =
      support::catch_ordinary(&capture_screen, [](py::error_already_set&) { return py::object(); });
  if (!image) {
    return self.attr("_fallback_screenshot")();
  }
  State state(self);
  image = scaled_for_model(state.geometry(), std::move(image));
  const py::object png = png_of(image);
  const py::str base64 = base64_of(png);
  const py::str path = screenshot_file();
  // One encoding serves both: the file holds the same pixels as the returned image.
  write_png_file(path, png);
  state.set(state_keys().last_screenshot_path, path);
  return image_result(base64);
}

py::object fallback_screenshot(py::object self) {
  const py::object system = support::import("platform").attr("system")();
  const py::str path = screenshot_file();
  return support::catch_ordinary(
      [&]() -> py::object {
        const CaptureCommand command = capture_command(system, path);
        if (command.argv.empty()) {
          return error_result(format("No screenshot method for %S", system.ptr()));
        }
        support::import("subprocess")
            .attr("run")(command.argv, "timeout"_a = command.time_limit, "check"_a = true);
        py::object image = support::import("PIL.Image").attr("open")(path);
        State state(self);
        const Geometry geometry = state.geometry();
        const py::object png = png_of(scaled_for_model(geometry, image));
        if (geometry.scale_factor < 1.0) {
          write_png_file(path, png);
        }
        const py::str base64 = base64_of(png);
        state.set(state_keys().last_screenshot_path, path);
        return image_result(base64);
      },
      [](py::error_already_set& error) -> py::object {
        return error_result(
            format("Screenshot fallback failed: %U", support::exception_text(error.value()).ptr()));
      });
}

}  // namespace screen_operator
