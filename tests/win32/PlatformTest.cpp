// The Windows side of the platform seam under a real system (Wine in the
// test run): known folders, the temporary folder, detached processes, the
// browser association in the registry, resources and the address probe.
#include <windows.h>
#include <sddl.h>
#undef FindResource

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <io.h>
#include <fcntl.h>
#include <iterator>
#include <thread>

#include "platform/Folders.h"
#include "platform/MimeApps.h"
#include "platform/Network.h"
#include "platform/Process.h"
#include "platform/Resources.h"
#include "kelvora/kvUtils.h"
#include "platform/win32/WideExact.h"

namespace fs = std::filesystem;
using namespace kelvora::platform;

namespace {

fs::path PathOf(const std::string& Utf8Path) { return fs::path(Wide(Utf8Path)); }
std::string Utf8Of(const fs::path& P) { return Utf8(P.wstring()); }

bool IsAbsoluteFolder(const std::string& Path) {
  const fs::path p = PathOf(Path);
  return p.is_absolute() && fs::is_directory(p) && Path.back() != '\\';
}

// A scratch folder of the test's own, removed at the end.
struct TScratch {
  fs::path Dir;
  TScratch() {
    Dir = fs::temp_directory_path() / (L"kv platform \u00fc " + std::to_wstring(::GetCurrentProcessId()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
};

// A new folder given the access list Sddl afterwards (Wine maps a list set
// on an existing file to its Unix permissions, not one given at creation).
bool MakeFolder(const fs::path& Dir, const wchar_t* Sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::CreateDirectoryW(Dir.c_str(), nullptr) ||
      !::ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl, SDDL_REVISION_1, &sd, nullptr))
    return false;
  const bool ok = ::SetFileSecurityW(Dir.c_str(), DACL_SECURITY_INFORMATION, sd) != FALSE;
  ::LocalFree(sd);
  return ok;
}

std::string ReadAll(const fs::path& File) {
  std::ifstream in(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits (bounded) for the record a started program writes.
std::string AwaitRecord(const fs::path& File) {
  for (int i = 0; i < 300 && !fs::exists(File); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return ReadAll(File);
}

std::string Joined(const std::vector<std::string>& Args) {
  std::string s;
  for (const auto& a : Args) s += a + '\0';
  return s;
}

}  // namespace

TEST(Win32Folders, KnownFoldersExecutableAndHome) {
  const std::string exe = ExecutablePath();
  EXPECT_TRUE(fs::is_regular_file(PathOf(exe))) << exe;
  EXPECT_EQ(PathOf(exe).filename(), L"win32_platform_tests.exe");
  EXPECT_TRUE(IsAbsoluteFolder(HomeFolder())) << HomeFolder();
  for (auto f : {TKnownFolder::Desktop, TKnownFolder::Documents, TKnownFolder::Pictures, TKnownFolder::AppData,
                 TKnownFolder::ProgramFiles, TKnownFolder::Windows, TKnownFolder::System})
    EXPECT_TRUE(IsAbsoluteFolder(KnownFolder(f))) << static_cast<int>(f) << ": " << KnownFolder(f);
  const std::string windows = KnownFolder(TKnownFolder::Windows);
  EXPECT_EQ(KnownFolder(TKnownFolder::Help), windows + "\\HELP");
  EXPECT_EQ(KnownFolder(TKnownFolder::Cursors), windows + "\\CURSORS");
  EXPECT_EQ(KnownFolder(TKnownFolder::ProgramFiles), windows.substr(0, 3) + "Program Files");
  EXPECT_EQ(PathOf(KnownFolder(TKnownFolder::System)).parent_path(), PathOf(windows));
  // The folder macros stand for them, with a trailing backslash.
  EXPECT_EQ(kelvora::ExpandFolderMacros("%DeskTop%a.txt", true), KnownFolder(TKnownFolder::Desktop) + "\\a.txt");
  EXPECT_EQ(kelvora::GetSpecialFolder(4), KnownFolder(TKnownFolder::AppData) + "\\");
}

TEST(Win32Folders, TemporaryFolderIsPrivateOrReplacedByOne) {
  const std::string temp = PrivateTempFolder();
  ASSERT_TRUE(IsAbsoluteFolder(temp)) << temp;
  EXPECT_TRUE(IsPrivateFolder(temp));

  TScratch scratch;
  // A folder made in the private one is private too; once everybody may
  // write to it, it is not. A file is no folder.
  fs::create_directory(scratch.Dir / L"own");
  ASSERT_TRUE(MakeFolder(scratch.Dir / L"shared", L"D:P(A;OICI;FA;;;WD)"));
  std::ofstream(scratch.Dir / L"file") << "x";
  EXPECT_TRUE(IsPrivateFolder(Utf8Of(scratch.Dir / L"own")));
  EXPECT_FALSE(IsPrivateFolder(Utf8Of(scratch.Dir / L"shared")));
  EXPECT_FALSE(IsPrivateFolder(Utf8Of(scratch.Dir / L"file")));
  EXPECT_FALSE(IsPrivateFolder(Utf8Of(scratch.Dir / L"missing")));

  // TMP naming a folder others can write to: a private folder of our own in
  // its place, never the shared one.
  wchar_t oldTmp[MAX_PATH] = {0}, oldTemp[MAX_PATH] = {0};
  const bool hadTmp = ::GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH) > 0;
  const bool hadTemp = ::GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH) > 0;
  ::SetEnvironmentVariableW(L"TMP", (scratch.Dir / L"shared").c_str());
  ::SetEnvironmentVariableW(L"TEMP", (scratch.Dir / L"shared").c_str());
  SetPrivateTempBase(Utf8Of(scratch.Dir));
  const std::string replaced = PrivateTempFolder();
  SetPrivateTempBase("");
  ::SetEnvironmentVariableW(L"TMP", hadTmp ? oldTmp : nullptr);
  ::SetEnvironmentVariableW(L"TEMP", hadTemp ? oldTemp : nullptr);
  EXPECT_EQ(PathOf(replaced), scratch.Dir / L"Kelvora-temp");
  EXPECT_TRUE(IsPrivateFolder(replaced));
  EXPECT_EQ(PathOf(PrivateTempFolder()), PathOf(temp));
  EXPECT_EQ(kelvora::GetTempFolder(), temp + "\\");
}

TEST(Win32Process, DetachedProgramGetsItsArgumentsVerbatim) {
  TScratch scratch;
  // A program whose folder and name hold blanks and letters beyond ASCII.
  const fs::path dir = scratch.Dir / L"Program Files \u00e9\u65e5\u672c";
  fs::create_directories(dir);
  const fs::path program = dir / L"echo args \u00fc.exe";
  fs::copy_file(PathOf(ExecutablePath()).parent_path() / L"kv_win_echo_args.exe", program);
  const std::vector<std::string> args = {Utf8Of(program), "plain", "with blank", "", "quote\"inside",
                                         "trailing\\", "back\\\\slash \\\" mix\\\\", "\u00fcn\u00efc\u00f6d\u00e9 \u65e5\u672c",
                                         "tab\there", "-option", "%1"};
  const std::vector<std::string> expected(args.begin() + 1, args.end());

  // An inheritable handle of this process that must not reach the program.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE probe = ::CreateFileW((scratch.Dir / L"probe").c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(probe, INVALID_HANDLE_VALUE);
  const std::wstring probeText = std::to_wstring(reinterpret_cast<std::uintptr_t>(probe));

  const fs::path first = scratch.Dir / L"first \u00fc.out";
  ::SetEnvironmentVariableW(L"KV_ECHO_OUT", first.c_str());
  ::SetEnvironmentVariableW(L"KV_ECHO_PROBE", probeText.c_str());
  EXPECT_GT(SpawnDetached(args), 0);
  ::SetEnvironmentVariableW(L"KV_ECHO_OUT", nullptr);
  EXPECT_EQ(AwaitRecord(first), Joined(expected) + "probe not inherited\n");

  // With a variable of its own and descriptor 3 handed over: that one
  // handle reaches it, the probe still does not.
  const fs::path second = scratch.Dir / L"second.out";
  const int keep = ::_wopen((scratch.Dir / L"fd3.txt").c_str(), _O_WRONLY | _O_CREAT | _O_BINARY, 0600);
  ASSERT_GE(keep, 0);
  EXPECT_GT(SpawnProgram(Utf8Of(program), args, keep, {"KV_ECHO_OUT=" + Utf8Of(second)}), 0);
  EXPECT_EQ(AwaitRecord(second), Joined(expected) + "probe not inherited\n");
  ::_close(keep);
  ::SetEnvironmentVariableW(L"KV_ECHO_PROBE", nullptr);
  ::CloseHandle(probe);
  EXPECT_EQ(ReadAll(scratch.Dir / L"fd3.txt"), "fd3");

  // What cannot be started is an error, never a silent success.
  errno = 0;
  EXPECT_EQ(SpawnDetached({Utf8Of(dir / L"missing.exe")}), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(SpawnDetached({"kv-no-such-program"}), -1);
  EXPECT_EQ(SpawnDetached({Utf8Of(program), "bad \xff utf-8"}), -1);
  EXPECT_EQ(errno, EILSEQ);
  // A batch file would read the arguments by cmd.exe's rules: not started.
  fs::copy_file(program, dir / L"run.bat");
  for (const char* name : {"run.bat", "RUN.BAT.", "run.bat::$DATA"}) {
    EXPECT_EQ(SpawnDetached({Utf8Of(dir) + "\\" + name, "x\"&calc"}), -1) << name;
    EXPECT_EQ(errno, ENOEXEC) << name;
  }
}

// Registry keys the association test writes under HKEY_CURRENT_USER.
class Win32Association : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kKeys[] = {
      L"Software\\Classes\\.kvplattest", L"Software\\Classes\\KvPlatTest.Doc", L"Software\\Classes\\KvPlatTest.Chosen",
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.kvplattest"};
  void SetUp() override { TearDown(); }
  void TearDown() override {
    for (const wchar_t* k : kKeys) ::RegDeleteTreeW(HKEY_CURRENT_USER, k);
  }
  static void Set(const std::wstring& Key, const wchar_t* Name, const std::wstring& Value, DWORD Type = REG_SZ) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, Key.c_str(), Name, Type, Value.c_str(),
                                static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
};

TEST_F(Win32Association, UserChoiceThenTypeThenVerbs) {
  EXPECT_EQ(AssociatedCommand(".kvplattest"), "");
  const std::wstring doc = L"Software\\Classes\\KvPlatTest.Doc";
  Set(L"Software\\Classes\\.kvplattest", nullptr, L"KvPlatTest.Doc");
  Set(doc, nullptr, L"Test document");
  // No "open" verb: the first verb whose name holds "open", in any case.
  Set(doc + L"\\shell\\Print\\command", nullptr, L"print.exe %1");
  const std::wstring browser = L"\"C:\\Program Files\\Br\u00f6wser\\b.exe\" \"%1\"";
  Set(doc + L"\\shell\\Open with browser\\command", nullptr, browser);
  EXPECT_EQ(AssociatedCommand(".kvplattest"), Utf8(browser));
  EXPECT_EQ(AssociatedCommand(".KVPLATTEST"), Utf8(browser));
  // The "open" verb wins, its expandable text expanded.
  Set(doc + L"\\shell\\open\\command", nullptr, L"%SystemRoot%\\open.exe %1", REG_EXPAND_SZ);
  const std::string expanded = AssociatedCommand(".kvplattest");
  EXPECT_NE(expanded.find("\\open.exe %1"), std::string::npos) << expanded;
  EXPECT_EQ(expanded.find('%'), expanded.find("%1")) << expanded;
  // The user's choice comes first, when its type exists.
  const std::wstring choice = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.kvplattest\\UserChoice";
  Set(choice, L"ProgId", L"KvPlatTest.Chosen");
  EXPECT_EQ(AssociatedCommand(".kvplattest"), expanded);
  Set(L"Software\\Classes\\KvPlatTest.Chosen\\shell\\open\\command", nullptr, L"chosen.exe \"%1\"");
  EXPECT_EQ(AssociatedCommand(".kvplattest"), "chosen.exe \"%1\"");
  // Names that would leave the key they name are refused.
  EXPECT_EQ(AssociatedCommand("."), "");
  EXPECT_EQ(AssociatedCommand("..\\.kvplattest"), "");
}

TEST_F(Win32Association, OpenURLGivesTheBrowserTheAddressAsOneArgument) {
  const std::wstring html = L"Software\\Classes\\.html";
  const std::wstring choice = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html";
  HKEY existing = nullptr;
  for (const auto& k : {html, choice}) {
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, k.c_str(), 0, KEY_READ, &existing) == ERROR_SUCCESS) {
      ::RegCloseKey(existing);
      GTEST_SKIP() << "this user has a browser choice of their own";
    }
  }
  TScratch scratch;
  const fs::path browser = scratch.Dir / L"Br\u00f6wser dir" / L"browser.exe";
  fs::create_directories(browser.parent_path());
  fs::copy_file(PathOf(ExecutablePath()).parent_path() / L"kv_win_echo_args.exe", browser);
  struct TRemove {
    std::wstring Key;
    ~TRemove() { ::RegDeleteTreeW(HKEY_CURRENT_USER, Key.c_str()); }
  } remove{html};  // ours alone: it did not exist
  Set(html, nullptr, L"KvPlatTest.Doc");
  Set(L"Software\\Classes\\KvPlatTest.Doc\\shell\\open\\command", nullptr, L"\"" + browser.wstring() + L"\" \"%1\"");
  const fs::path out = scratch.Dir / L"browser.out";
  ::SetEnvironmentVariableW(L"KV_ECHO_OUT", out.c_str());
  // An address from the server with quotes, blanks and a trailing
  // backslash stays one argument, byte for byte.
  kelvora::OpenURL("http://127.0.0.1/a b\" --evil-flag \"c\\", true);
  ::SetEnvironmentVariableW(L"KV_ECHO_OUT", nullptr);
  EXPECT_EQ(AwaitRecord(out), std::string("http://127.0.0.1/a b\" --evil-flag \"c\\") + '\0');
}

TEST(Win32Resources, RegisteredBlocksAndTheProgramsOwnResources) {
  static const char kBytes[] = "registered bytes";
  TResourceBlock block;
  RegisterResource("KvPlatBlock", "KvType", kBytes, sizeof kBytes);
  ASSERT_TRUE(FindResource("KVPLATBLOCK", "kvtype", block));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.Data), block.Size), std::string(kBytes, sizeof kBytes));
  UnregisterResource("kvplatblock", "KVTYPE");
  EXPECT_FALSE(FindResource("KvPlatBlock", "KvType", block));

  // The executable's resource section, when nothing is registered under the name.
  ASSERT_TRUE(FindResource("KvPlatTest", "KvBlob", block));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.Data), block.Size), "module bytes");
  RegisterResource("KVPLATTEST", "KVBLOB", kBytes, sizeof kBytes);
  ASSERT_TRUE(FindResource("KvPlatTest", "KvBlob", block));
  EXPECT_EQ(block.Data, reinterpret_cast<const std::uint8_t*>(kBytes));
  UnregisterResource("KVPLATTEST", "KVBLOB");
  EXPECT_FALSE(FindResource("KvPlatTest", "OtherType", block));
}

TEST(Win32Network, LocalAddressesAndDialUpFlag) {
  const auto addresses = LocalAddresses();
  for (const auto& a : addresses) {
    EXPECT_FALSE(a.Text.empty()) << a.Interface;
    if (a.Text == "127.0.0.1" || a.Text == "::1") {
      EXPECT_FALSE(IsRoutableAddress(a.Text));
    }
  }
  EXPECT_EQ(HasRoutableAddress(addresses), HasRoutableAddress(LocalAddresses()));

  // The dial-up service's flag, where the test may write it.
  const wchar_t* key = L"System\\CurrentControlSet\\Services\\RemoteAccess";
  HKEY k = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
    GTEST_SKIP() << "HKEY_LOCAL_MACHINE is not writable here";
  bool connected = true;
  EXPECT_FALSE(ReadDialUpState(connected));  // the key alone, without the value
  const DWORD one = 1, zero = 0;
  ::RegSetValueExW(k, L"Remote Connection", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&one), sizeof one);
  EXPECT_TRUE(ReadDialUpState(connected));
  EXPECT_TRUE(connected);
  EXPECT_TRUE(kelvora::IsOnline());  // the flag decides, whatever the addresses
  ::RegSetValueExW(k, L"Remote Connection", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
  EXPECT_TRUE(ReadDialUpState(connected));
  EXPECT_FALSE(connected);
  EXPECT_FALSE(kelvora::IsOnline());
  ::RegDeleteValueW(k, L"Remote Connection");
  ::RegCloseKey(k);
}
