// zelkora-probe: reads what a user of the running viewer sees, for the end-to-end tests. It runs
// under the viewer's Wine server and prints one fact a line.
//
//   zelkora-probe look [BLOCK]        the client area (screen x, y, width, height), the status
//                                     bar's height, texts and part rectangles (client left, top,
//                                     right, bottom), and each message box of the viewer
//   zelkora-probe drop BLOCK PATH...  drops the files on the viewer, as from a file manager
//   zelkora-probe dpi BLOCK DPI       tells the viewer its window is now on a monitor at DPI, as
//                                     Windows does on a move (Wine never does), suggesting the
//                                     window's rectangle scaled
//
// BLOCK is the address of a block in the viewer's memory that a look without one made and
// printed as block=ADDRESS. Exit code 0, or 1 when the viewer's window is not there.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kReplyTimeoutMs = 5000;
// The status bar copies a text into the first half of the block; a drop's list goes into the
// second half; a part's rectangle after both.
constexpr SIZE_T kHalf = 4096;

// A hung viewer fails the test instead of hanging it: -1 when no reply came in time.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  const bool answered = SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG,
                                            kReplyTimeoutMs, &result) != 0;
  return answered ? LRESULT(result) : -1;
}

// WM_GETTEXT is carried between processes, its buffer included; wide, then UTF-8 as the
// viewer's own texts are, so that a name of any script in a box arrives whole whatever the
// probe's code page. A line break comes out as the two characters \n: one fact stays one line.
std::string Text(HWND hwnd) {
  wchar_t wide[1024] = L"";
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, sizeof wide / sizeof *wide, LPARAM(wide), SMTO_ABORTIFHUNG,
                      kReplyTimeoutMs, &ignored);
  char text[4096] = "";
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  std::string line;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\n') line += "\\n";
    if (*c != '\n' && *c != '\r') line += *c;
  }
  return line;
}

int Look(HWND hwnd, HANDLE viewer, DWORD pid, char* block) {
  if (block == nullptr) {
    // Wine has the viewer's own threads serve an allocation asked for by another process, and
    // a thread busy decoding would serve it from inside a signal. So the block is made once,
    // right after the viewer answered a message, while it waits for the next.
    if (Send(hwnd, WM_NULL, 0, 0) == -1) return 0;
    block = static_cast<char*>(VirtualAllocEx(viewer, nullptr, 2 * kHalf + sizeof(RECT),
                                              MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (block == nullptr) return 0;
    std::printf("block=%p\n", static_cast<void*>(block));
  }
  RECT client;
  POINT origin = {0, 0};
  GetClientRect(hwnd, &client);
  ClientToScreen(hwnd, &origin);
  std::printf("client=%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
  HWND bar = FindWindowExA(hwnd, nullptr, STATUSCLASSNAMEA, nullptr);
  RECT rect = {};
  if (bar != nullptr) GetWindowRect(bar, &rect);
  std::printf("bar=%ld\n", rect.bottom - rect.top);
  for (int part = 0; bar != nullptr && part < 3; ++part) {
    // The length is the one of the text this message copied: a playing viewer rewrites its
    // texts between any two messages.
    char text[kHalf] = "";
    const LRESULT copied = Send(bar, SB_GETTEXTA, WPARAM(part), LPARAM(block));
    SIZE_T got = 0;
    if (copied != -1 && LOWORD(copied) < kHalf &&
        ReadProcessMemory(viewer, block, text, LOWORD(copied), &got)) {
      text[got] = '\0';
      std::printf("text%d=%s\n", part, text);
    }
    RECT partRect = {};
    if (Send(bar, SB_GETRECT, WPARAM(part), LPARAM(block + 2 * kHalf)) > 0 &&
        ReadProcessMemory(viewer, block + 2 * kHalf, &partRect, sizeof partRect, &got)) {
      std::printf("part%d=%ld %ld %ld %ld\n", part, partRect.left, partRect.top, partRect.right,
                  partRect.bottom);
    }
  }
  // Message boxes and dialogs, with the texts of their children.
  for (HWND box = nullptr; (box = FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr;) {
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner != pid || !IsWindowVisible(box)) continue;
    std::printf("box=%s", Text(box).c_str());
    for (HWND child = nullptr; (child = FindWindowExA(box, child, nullptr, nullptr)) != nullptr;) {
      const std::string text = Text(child);
      if (!text.empty()) std::printf("|%s", text.c_str());
    }
    std::printf("\n");
  }
  return 0;
}

int Drop(HWND hwnd, HANDLE viewer, char* block) {
  // The handle a drop brings is a DROPFILES header, then the names, each ended by a zero, and
  // one more zero; wide, as Explorer sends them, so that names of any script arrive whole
  // whatever the probe's code page. The viewer reads it and hands it to DragFinish to be freed;
  // Wine declines to free a block that is not of the heap, so the half can serve the next drop.
  int count = 0;
  wchar_t** paths = CommandLineToArgvW(GetCommandLineW(), &count);
  DROPFILES header = {};
  header.pFiles = sizeof header;
  header.fWide = TRUE;
  std::vector<char> list(sizeof header);
  std::memcpy(list.data(), &header, sizeof header);
  for (int i = 3; paths != nullptr && i < count; ++i) {
    const char* name = reinterpret_cast<const char*>(paths[i]);
    list.insert(list.end(), name, name + 2 * (wcslen(paths[i]) + 1));
  }
  list.insert(list.end(), 2, '\0');
  SIZE_T put = 0;
  const bool written = list.size() <= kHalf &&
                       WriteProcessMemory(viewer, block + kHalf, list.data(), list.size(), &put);
  return written && PostMessageA(hwnd, WM_DROPFILES, WPARAM(block + kHalf), 0) ? 0 : 1;
}

int MoveToDpi(HWND hwnd, HANDLE viewer, char* block, int dpi) {
  RECT window;
  GetWindowRect(hwnd, &window);
  const RECT suggested = {window.left, window.top,
                          window.left + MulDiv(window.right - window.left, dpi, 96),
                          window.top + MulDiv(window.bottom - window.top, dpi, 96)};
  SIZE_T put = 0;
  if (!WriteProcessMemory(viewer, block + 2 * kHalf, &suggested, sizeof suggested, &put)) return 1;
  return Send(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), LPARAM(block + 2 * kHalf)) == -1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool look = argc >= 2 && argc <= 3 && std::strcmp(argv[1], "look") == 0;
  const bool drop = argc >= 4 && std::strcmp(argv[1], "drop") == 0;
  const bool dpi = argc == 4 && std::strcmp(argv[1], "dpi") == 0;
  if (!look && !drop && !dpi) {
    std::fprintf(stderr,
                 "usage: zelkora-probe look [BLOCK] | drop BLOCK PATH... | dpi BLOCK DPI\n");
    return 2;
  }
  HWND hwnd = FindWindowA("Zelkora", nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE viewer =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (hwnd == nullptr || viewer == nullptr) return 1;
  char* block = argc >= 3 ? reinterpret_cast<char*>(std::strtoul(argv[2], nullptr, 16)) : nullptr;
  const int code = look   ? Look(hwnd, viewer, pid, block)
                   : drop ? Drop(hwnd, viewer, block)
                          : MoveToDpi(hwnd, viewer, block, std::atoi(argv[3]));
  CloseHandle(viewer);
  return code;
}
