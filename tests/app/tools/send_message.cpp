// send_message.exe WINDOW MESSAGE WPARAM LPARAM: sends one message to a window of another
// process, as any program on the desktop can, and exits with the low byte of the answer (255
// when the send failed or took longer than ten seconds). The GUI tests use it to show that the
// window survives messages it did not send itself. Numbers are decimal or 0x-prefixed.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 254;
  auto number = [](const wchar_t* text) {
    return static_cast<unsigned long long>(std::wcstoull(text, nullptr, 0));
  };
  const auto window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(number(argv[1])));
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, static_cast<UINT>(number(argv[2])),
                           static_cast<WPARAM>(number(argv[3])),
                           static_cast<LPARAM>(number(argv[4])), SMTO_NORMAL, 10000, &answer)) {
    return 255;
  }
  return static_cast<int>(answer & 0xFF);
}
