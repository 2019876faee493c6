// zelkora-probe: looks into a running viewer from outside, for the end-to-end tests. It runs
// under the same Wine server (or Windows session) as the viewer and prints key=value lines.
//
//   zelkora-probe info             command line, window geometry, status texts and parts,
//                                  menu check marks
//   zelkora-probe status           the status texts only: quick while the viewer plays
//   zelkora-probe wait [MS] [visible]
//                                  waits until the main window exists (and is visible)
//   zelkora-probe boxes            visible top-level windows of the viewer's process other than
//                                  the main window: caption, the texts of their children and
//                                  the screen rectangles of their buttons
//   zelkora-probe drop PATH...     drops files on the main window, as Explorer does
//   zelkora-probe resize W H       gives the main window an outer size of W x H, as dragging its
//                                  border does
//   zelkora-probe close            posts WM_CLOSE to the main window, as the close box does
//
// Exit code 0 on success, 1 when the viewer's window is not there or cannot be reached, 2 for
// a usage error.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kViewerClass = "Zelkora";
constexpr DWORD kReplyTimeoutMs = 5000;
constexpr SIZE_T kRemoteBufferSize = 4096;

// Texts go on one line each: line breaks and backslashes are escaped.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

// SendMessage with a timeout, so that a hung viewer fails the test instead of hanging it;
// -1 when no reply came.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                          &result) == 0) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

std::string WindowText(HWND hwnd) {
  // WM_GETTEXT is one of the messages the system carries between processes.
  char text[1024] = "";
  Send(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ClassName(HWND hwnd) {
  char name[256] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// Calls a function of up to three 32-bit arguments as a thread of the viewer's process and
// returns its result as the thread's exit code. The stub takes a pointer to
// {function, a, b, c}, pushes c, b, a, calls, and puts the stack back through ebp, so that a
// function of fewer arguments, which pops only its own, leaves it balanced:
//   push ebp; mov ebp,esp; push ebx; mov ebx,[ebp+8]; push [ebx+12]; push [ebx+8];
//   push [ebx+4]; call [ebx]; mov ebx,[ebp-4]; mov esp,ebp; pop ebp; ret 4
static_assert(sizeof(void*) == 4, "the stub is 32-bit x86 code");
constexpr unsigned char kCallStub[] = {0x55, 0x89, 0xE5, 0x53, 0x8B, 0x5D, 0x08, 0xFF, 0x73,
                                       0x0C, 0xFF, 0x73, 0x08, 0xFF, 0x73, 0x04, 0xFF, 0x13,
                                       0x8B, 0x5D, 0xFC, 0x89, 0xEC, 0x5D, 0xC2, 0x04, 0x00};
// The one block a look allocates in the viewer: the stub, its arguments, and a buffer for
// the status bar's pointer messages.
constexpr SIZE_T kArgumentsAt = 64;
constexpr SIZE_T kBufferAt = 4096;
constexpr SIZE_T kBlockSize = kBufferAt + kRemoteBufferSize;
// The parked thread's own stub and arguments, never freed: the thread sits in that code.
constexpr SIZE_T kParkBlockSize = 128;

// The viewer's process, for the messages that the system does not carry between processes:
// the status bar's pointer messages write into a buffer allocated in the viewer, and Wine keeps
// menus private to their process, so GetMenuState has to run there.
//
// Under Wine, a request to allocate, free or start a thread in another process goes to a thread
// of that process that waits in the server; when none waits, a running thread is interrupted by
// a signal and serves the request from there. A thread start served that way can deadlock on a
// lock the interrupted code holds (the C library's heap, in the middle of a paint), and a
// playing viewer freezes for good. So the first look, made while the viewer is idle after its
// first paint, leaves a thread in it that waits for ever, and later requests go to that thread.
// Each look still makes as few requests as it can: one block, and each module's base looked up
// once.
class RemoteProcess {
 public:
  explicit RemoteProcess(HWND hwnd) {
    GetWindowThreadProcessId(hwnd, &pid_);
    process_ =
        OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                        PROCESS_VM_WRITE | PROCESS_VM_READ | PROCESS_DUP_HANDLE,
                    FALSE, pid_);
  }
  ~RemoteProcess() {
    if (block_ != nullptr) VirtualFreeEx(process_, block_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteProcess(const RemoteProcess&) = delete;
  RemoteProcess& operator=(const RemoteProcess&) = delete;

  bool ok() const { return process_ != nullptr; }

  // kRemoteBufferSize bytes in the viewer for a message to write into; null when there is no
  // block.
  void* Buffer() {
    unsigned char* block = Block();
    return block != nullptr ? block + kBufferAt : nullptr;
  }

  bool Read(const void* from, void* to, SIZE_T bytes) const {
    SIZE_T got = 0;
    return ReadProcessMemory(process_, from, to, bytes, &got) != 0 && got == bytes;
  }
  bool Write(void* to, const void* from, SIZE_T bytes) const {
    SIZE_T put = 0;
    return WriteProcessMemory(process_, to, from, bytes, &put) != 0 && put == bytes;
  }

  // function(a, b, c) in the viewer, function named by module and name; false when it could
  // not be run.
  bool Call(const char* module, const char* name, uintptr_t a, uintptr_t b, uintptr_t c,
            DWORD* result) {
    HANDLE thread = StartCall(Block(), FunctionAddress(module, name), a, b, c);
    if (thread == nullptr) return false;
    const bool ended = WaitForSingleObject(thread, kReplyTimeoutMs) == WAIT_OBJECT_0;
    const bool ok = ended && GetExitCodeThread(thread, result) != 0;
    CloseHandle(thread);
    return ok;
  }

 private:
  unsigned char* Block() {
    if (block_ == nullptr && process_ != nullptr) {
      Park();
      block_ = NewStubBlock(kBlockSize);
    }
    return block_;
  }

  // Executable bytes in the viewer with the call stub at their start; null when there are none.
  unsigned char* NewStubBlock(SIZE_T bytes) {
    auto* block = static_cast<unsigned char*>(
        VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (block != nullptr && !Write(block, kCallStub, sizeof kCallStub)) {
      VirtualFreeEx(process_, block, 0, MEM_RELEASE);
      return nullptr;
    }
    return block;
  }

  // A thread of the viewer running function(a, b, c) through the stub of `block`; null when it
  // could not be started.
  HANDLE StartCall(unsigned char* block, uintptr_t function, uintptr_t a, uintptr_t b,
                   uintptr_t c) {
    const uintptr_t arguments[4] = {function, a, b, c};
    if (function == 0 || block == nullptr ||
        !Write(block + kArgumentsAt, arguments, sizeof arguments)) {
      return nullptr;
    }
    return CreateRemoteThread(process_, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(block),
                              block + kArgumentsAt, 0, nullptr);
  }

  // A named event marks a viewer that has its waiting thread. The thread waits on the event's
  // handle duplicated into the viewer, which also keeps the name alive as long as the viewer.
  void Park() {
    char name[64];
    std::snprintf(name, sizeof name, "zelkora-probe-parked-%lu", pid_);
    HANDLE marker = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (marker != nullptr) {
      CloseHandle(marker);
      return;
    }
    marker = CreateEventA(nullptr, TRUE, FALSE, name);
    if (marker == nullptr) return;
    unsigned char* block = NewStubBlock(kParkBlockSize);
    HANDLE inViewer = nullptr;
    HANDLE thread = nullptr;
    if (block != nullptr &&
        DuplicateHandle(GetCurrentProcess(), marker, process_, &inViewer, SYNCHRONIZE, FALSE, 0)) {
      thread = StartCall(block, FunctionAddress("kernel32.dll", "WaitForSingleObject"),
                         reinterpret_cast<uintptr_t>(inViewer), INFINITE, 0);
      // Without a thread the name goes back, so that the next look tries again.
      if (thread == nullptr) {
        DuplicateHandle(process_, inViewer, nullptr, nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
      }
    }
    if (thread != nullptr) {
      CloseHandle(thread);
    } else if (block != nullptr) {
      VirtualFreeEx(process_, block, 0, MEM_RELEASE);
    }
    CloseHandle(marker);
  }

  // A DLL need not sit at the same address in both processes: take the function's offset here
  // and the module's base there.
  uintptr_t FunctionAddress(const char* module, const char* name) {
    HMODULE local = GetModuleHandleA(module);
    FARPROC function = local != nullptr ? GetProcAddress(local, name) : nullptr;
    const uintptr_t remote = ModuleBase(module);
    if (function == nullptr || remote == 0) return 0;
    return remote + (reinterpret_cast<uintptr_t>(function) - reinterpret_cast<uintptr_t>(local));
  }

  uintptr_t ModuleBase(const char* module) {
    for (const auto& known : bases_) {
      if (lstrcmpiA(known.first.c_str(), module) == 0) return known.second;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid_);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    uintptr_t base = 0;
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more && base == 0;
         more = Module32Next(snapshot, &entry)) {
      if (lstrcmpiA(entry.szModule, module) == 0) {
        base = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
      }
    }
    CloseHandle(snapshot);
    if (base != 0) bases_.emplace_back(module, base);
    return base;
  }

  DWORD pid_ = 0;
  HANDLE process_ = nullptr;
  unsigned char* block_ = nullptr;
  std::vector<std::pair<std::string, uintptr_t>> bases_;
};

void PrintRect(const char* key, const RECT& r) {
  std::printf("%s.left=%ld\n%s.top=%ld\n%s.right=%ld\n%s.bottom=%ld\n", key, r.left, key, r.top,
              key, r.right, key, r.bottom);
}

void PrintStatusTexts(HWND bar, const RemoteProcess& viewer, void* buffer, int parts) {
  const LPARAM remote = reinterpret_cast<LPARAM>(buffer);
  for (int i = 0; i < parts; ++i) {
    // The low word is the length, the high word the drawing type. A playing viewer rewrites
    // its texts between any two messages, so the length taken is the one SB_GETTEXTA reports
    // for the text it copied, not an earlier SB_GETTEXTLENGTHA's.
    char text[kRemoteBufferSize] = "";
    if (SIZE_T(Send(bar, SB_GETTEXTLENGTHA, WPARAM(i), 0) & 0xffff) < kRemoteBufferSize) {
      const LRESULT copied = Send(bar, SB_GETTEXTA, WPARAM(i), remote);
      const SIZE_T length = SIZE_T(copied & 0xffff);
      if (copied != -1 && length < kRemoteBufferSize && viewer.Read(buffer, text, length)) {
        text[length] = '\0';
      }
    }
    std::printf("status.text%d=%s\n", i, Escape(text).c_str());
  }
}

void PrintStatusBar(HWND bar, RemoteProcess& viewer) {
  RECT r;
  GetWindowRect(bar, &r);
  PrintRect("status", r);
  void* buffer = viewer.Buffer();
  if (buffer == nullptr) {
    std::printf("status.error=cannot reach the viewer's memory\n");
    return;
  }
  const LPARAM remote = reinterpret_cast<LPARAM>(buffer);
  constexpr int kMaxParts = 256;  // the status bar's own limit
  int edges[kMaxParts] = {};
  const LRESULT parts = Send(bar, SB_GETPARTS, kMaxParts, remote);
  std::printf("status.parts=%ld\n", static_cast<long>(parts));
  if (parts <= 0 || parts > kMaxParts) return;
  if (viewer.Read(buffer, edges, sizeof(int) * size_t(parts))) {
    for (int i = 0; i < parts; ++i) std::printf("status.edge%d=%d\n", i, edges[i]);
  }
  PrintStatusTexts(bar, viewer, buffer, int(parts));
}

void PrintMenuChecks(HWND hwnd, RemoteProcess& viewer) {
  static const UINT kItems[] = {201, 202, 203, 204, 103, 104};
  // The menu handle is a field of the window, readable from any process; the menu is not.
  HMENU menu = GetMenu(hwnd);
  for (UINT id : kItems) {
    UINT state = UINT(-1);
    if (menu != nullptr) {
      state = GetMenuState(menu, id, MF_BYCOMMAND);
      DWORD remote = DWORD(-1);
      if (state == UINT(-1) &&
          viewer.Call("user32.dll", "GetMenuState", reinterpret_cast<uintptr_t>(menu), id,
                      MF_BYCOMMAND, &remote)) {
        state = remote;
      }
    }
    // -1 when the item cannot be read at all.
    const int checked = state == UINT(-1) ? -1 : (state & MF_CHECKED) != 0 ? 1 : 0;
    std::printf("menu.%u=%d\n", id, checked);
  }
}

// The viewer's whole command line, as GetCommandLineA gives it there: shows how the launcher
// quoted the arguments.
std::string CommandLine(RemoteProcess& viewer) {
  DWORD address = 0;
  if (!viewer.ok() || !viewer.Call("kernel32.dll", "GetCommandLineA", 0, 0, 0, &address)) {
    return "";
  }
  std::string text;
  char c = 0;
  const char* at = reinterpret_cast<const char*>(uintptr_t(address));
  while (text.size() < 65536 && viewer.Read(at + text.size(), &c, 1) && c != '\0') text += c;
  return text;
}

int Info(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  std::printf("window=%p\npid=%lu\nvisible=%d\n", static_cast<void*>(hwnd), pid,
              IsWindowVisible(hwnd) ? 1 : 0);
  std::printf("caption=%s\n", Escape(WindowText(hwnd)).c_str());
  RemoteProcess viewer(hwnd);
  std::printf("command_line=%s\n", Escape(CommandLine(viewer)).c_str());
  POINT origin = {0, 0};
  ClientToScreen(hwnd, &origin);
  RECT client;
  GetClientRect(hwnd, &client);
  std::printf("client.x=%ld\nclient.y=%ld\nclient.width=%ld\nclient.height=%ld\n", origin.x,
              origin.y, client.right - client.left, client.bottom - client.top);
  RECT outer;
  GetWindowRect(hwnd, &outer);
  PrintRect("window", outer);
  HWND bar = FindWindowExA(hwnd, nullptr, STATUSCLASSNAMEA, nullptr);
  std::printf("status=%d\n", bar != nullptr ? 1 : 0);
  if (bar != nullptr) PrintStatusBar(bar, viewer);
  PrintMenuChecks(hwnd, viewer);
  return 0;
}

// The three status texts alone. While the viewer plays, each message to it and each reach into
// its memory waits for the frame being decoded, and "info" makes over a dozen of them.
int Status(HWND hwnd) {
  HWND bar = FindWindowExA(hwnd, nullptr, STATUSCLASSNAMEA, nullptr);
  RemoteProcess viewer(hwnd);
  void* buffer = bar != nullptr ? viewer.Buffer() : nullptr;
  if (buffer == nullptr) {
    std::printf("error=cannot reach the viewer's status bar\n");
    return 1;
  }
  PrintStatusTexts(bar, viewer, buffer, 3);
  return 0;
}

HWND FindViewer() {
  return FindWindowA(kViewerClass, nullptr);
}

int Wait(DWORD timeoutMs, bool visible) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND hwnd = FindViewer();
    if (hwnd != nullptr && (!visible || IsWindowVisible(hwnd))) {
      std::printf("window=%p\n", static_cast<void*>(hwnd));
      return 0;
    }
    if (GetTickCount() - start >= timeoutMs) {
      std::printf("error=timeout\n");
      return 1;
    }
    Sleep(50);
  }
}

struct BoxSearch {
  DWORD pid;
  HWND main;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && hwnd != search->main && IsWindowVisible(hwnd)) {
    search->found.push_back(hwnd);
  }
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
  reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
  return TRUE;
}

int Boxes(HWND main) {
  BoxSearch search = {0, main, {}};
  GetWindowThreadProcessId(main, &search.pid);
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
  std::printf("boxes=%u\n", unsigned(search.found.size()));
  for (size_t i = 0; i < search.found.size(); ++i) {
    HWND box = search.found[i];
    const unsigned n = unsigned(i);
    std::printf("box%u.window=%p\n", n, static_cast<void*>(box));
    std::printf("box%u.class=%s\n", n, Escape(ClassName(box)).c_str());
    std::printf("box%u.caption=%s\n", n, Escape(WindowText(box)).c_str());
    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    int statics = 0;
    int buttons = 0;
    for (HWND child : children) {
      const std::string name = ClassName(child);
      const std::string text = WindowText(child);
      // A message box's icon is a static too, without text.
      if (lstrcmpiA(name.c_str(), "Static") == 0 && !text.empty()) {
        std::printf("box%u.text%d=%s\n", n, statics++, Escape(text).c_str());
      } else if (lstrcmpiA(name.c_str(), "Button") == 0) {
        // Where to click it: the screen rectangle as box<n>.button<m>.left/top/right/bottom.
        char key[64];
        std::snprintf(key, sizeof key, "box%u.button%d", n, buttons);
        RECT r;
        GetWindowRect(child, &r);
        PrintRect(key, r);
        std::printf("%s=%s\n", key, Escape(text).c_str());
        ++buttons;
      }
    }
  }
  return 0;
}

// The drop handle in WM_DROPFILES is an HGLOBAL holding a DROPFILES header and the names, each
// ended by a zero byte, the list by one more; the receiver reads it with DragQueryFileA and
// frees it with DragFinish. So it has to be a real block of the viewer's own heap: GlobalAlloc
// runs there, and the list is copied in.
int Drop(HWND hwnd, int count, char** paths) {
  std::vector<char> block(sizeof(DROPFILES));
  for (int i = 0; i < count; ++i)
    block.insert(block.end(), paths[i], paths[i] + strlen(paths[i]) + 1);
  block.push_back('\0');
  DROPFILES header = {};
  header.pFiles = sizeof(DROPFILES);
  header.fWide = FALSE;
  std::memcpy(block.data(), &header, sizeof header);

  RemoteProcess viewer(hwnd);
  DWORD handle = 0;
  if (!viewer.ok() ||
      !viewer.Call("kernel32.dll", "GlobalAlloc", GMEM_FIXED | GMEM_ZEROINIT, block.size(), 0,
                   &handle) ||
      handle == 0) {
    std::printf("error=cannot allocate the drop in the viewer\n");
    return 1;
  }
  // A fixed block is its own address.
  if (!viewer.Write(reinterpret_cast<void*>(uintptr_t(handle)), block.data(), block.size())) {
    std::printf("error=cannot write the drop into the viewer\n");
    return 1;
  }
  PostMessageA(hwnd, WM_DROPFILES, WPARAM(handle), 0);
  std::printf("dropped=%d\n", count);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zelkora-probe info | status | wait [MS] [visible] | boxes | drop PATH... | "
               "resize W H | close\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "wait") {
    const DWORD timeoutMs = argc > 2 ? DWORD(std::atoi(argv[2])) : 10000;
    const bool visible = argc > 3 && std::strcmp(argv[3], "visible") == 0;
    return Wait(timeoutMs, visible);
  }
  const bool known = command == "info" || command == "status" || command == "boxes" ||
                     command == "close" || (command == "drop" && argc > 2) ||
                     (command == "resize" && argc == 4);
  if (!known) return Usage();
  HWND hwnd = FindViewer();
  if (hwnd == nullptr) {
    std::printf("error=no window of class %s\n", kViewerClass);
    return 1;
  }
  if (command == "info") return Info(hwnd);
  if (command == "status") return Status(hwnd);
  if (command == "boxes") return Boxes(hwnd);
  if (command == "drop") return Drop(hwnd, argc - 2, argv + 2);
  if (command == "resize") {
    const BOOL done = SetWindowPos(hwnd, nullptr, 0, 0, std::atoi(argv[2]), std::atoi(argv[3]),
                                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return done ? 0 : 1;
  }
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
  return 0;
}
