// Process entry: the default bitmap, the main window, the colour tables, the file named on the
// command line, and the message loop.
#include "app/win32.h"

#include "app/shell.h"
#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "platform/read_queue.h"
#include "platform/workers.h"
#include "sequence/sequence.h"

namespace {

constexpr const char* kClassName = "Zelkora";
constexpr const char* kCaption = "Zelkora";

// The whole command-line text is one path; a first frame of another size brings the bitmap to
// it before the first paint shows it.
void OpenCommandLine(HWND hwnd, const char* text) {
  if (*text == '\0') return;
  if (OpenPath(text)) FitWindowToFrameBuffer(hwnd);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
  // Defaults: 3840 x 2160 shown at 1/4, no FrameList, frame count and PlaybackStep 0.
  ResetViewerState();
  ResetFrameBuffer();

  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  windowClass.lpszMenuName = "MAINMENU";
  windowClass.lpszClassName = kClassName;
  if (RegisterClassA(&windowClass) == 0) return 1;

  // The outer size is only a first guess: WM_CREATE fits the client area to the bitmap.
  const FrameBufferHeader& bitmap = Viewer.FrameInfo.bmiHeader;
  HWND hwnd =
      CreateWindowExA(0, kClassName, kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      bitmap.biWidth, bitmap.biHeight, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return 1;

  BuildColourTables();
  // Every core decodes a band of each frame; the crew waits between frames.
  PlatformStartWorkers(PlatformProcessorCount());
  OpenCommandLine(hwnd, commandLine);

  ShowWindow(hwnd, showCommand);
  UpdateWindow(hwnd);
  DragAcceptFiles(hwnd, TRUE);

  MSG msg = {};
  // GetMessageA returns -1 only for a bad argument; stopping there beats spinning on it.
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  PlatformStopWorkers();  // no thread outlives the window
  PlatformStopReaders();
  return static_cast<int>(msg.wParam);  // the code posted with WM_QUIT
}
