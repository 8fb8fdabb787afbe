// SplitCommandLine, GetAssociatedProgram and OpenURL.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <gtest/gtest.h>

#include "UtilsTestSupport.h"
#include "kelvora/kvUtils.h"
#include "platform/MimeApps.h"
#include "platform/Process.h"

using namespace kelvora;
using kvtest::ScopedEnv;
using kvtest::TempDir;
using kvtest::WriteFile;

namespace {

std::pair<std::string, std::string> Split(const std::string& Command, const std::string& OldParams = "") {
  std::string cmd = Command, params = OldParams;
  SplitCommandLine(cmd, params);
  return {cmd, params};
}

using P = std::pair<std::string, std::string>;

}  // namespace

TEST(SplitCommandLine, TheExamplesOfThePart) {
  EXPECT_EQ(Split("C:\\Browser\\browse.exe -nohome"), (P{"C:\\Browser\\browse.exe", "-nohome"}));
  EXPECT_EQ(Split("\"C:\\Program Files\\Browser\\browse.exe\" \"%1\""),
            (P{"C:\\Program Files\\Browser\\browse.exe", "%1"}));
  EXPECT_EQ(Split("rundll32.exe url.dll,FileProtocolHandler %1"),
            (P{"rundll32.exe", "url.dll,FileProtocolHandler %1"}));
}

TEST(SplitCommandLine, QuotedProgram) {
  EXPECT_EQ(Split("\"C:\\Program Files\\x.exe\""), (P{"C:\\Program Files\\x.exe", ""}));
  EXPECT_EQ(Split("  \"C:\\Program Files\\x.exe\"   -a \"b c\" "), (P{"C:\\Program Files\\x.exe", "-a b c"}));
  EXPECT_EQ(Split("\"/opt/My Browser/browser\" --new-window"), (P{"/opt/My Browser/browser", "--new-window"}));
}

TEST(SplitCommandLine, QuoteAfterTheProgram) {
  EXPECT_EQ(Split("C:\\x\\prog.exe \"%1\""), (P{"C:\\x\\prog.exe", "%1"}));
  EXPECT_EQ(Split("prog -url \"%1\""), (P{"prog -url", "%1"}));
}

TEST(SplitCommandLine, UnquotedSplitsInOrder) {
  EXPECT_EQ(Split("C:\\app.exe /s /q"), (P{"C:\\app.exe", "/s /q"}));
  EXPECT_EQ(Split("C:\\app.exe \\\\server\\x"), (P{"C:\\app.exe", "\\\\server\\x"}));
  EXPECT_EQ(Split("C:\\app.exe %1"), (P{"C:\\app.exe", "%1"}));
  EXPECT_EQ(Split("C:\\app.exe -a /b"), (P{"C:\\app.exe", "-a /b"}));  // " -" first
  EXPECT_EQ(Split("C:\\dir.x\\app -x"), (P{"C:\\dir.x\\app", "-x"}));
  EXPECT_EQ(Split("/usr/lib/chromium/chromium --incognito"), (P{"/usr/lib/chromium/chromium", "--incognito"}));
  EXPECT_EQ(Split("/usr/bin/firefox-esr"), (P{"/usr/bin/firefox-esr", ""}));
}

TEST(SplitCommandLine, ASplitThatLosesTheExtensionIsRejected) {
  // " -" would leave "C:\My Docs", which has no extension, while the whole
  // command has one.
  EXPECT_EQ(Split("C:\\My Docs -old\\run.exe"), (P{"C:\\My Docs -old\\run.exe", ""}));
  EXPECT_EQ(Split("/opt/my -stuff/run.sh"), (P{"/opt/my -stuff/run.sh", ""}));
  EXPECT_EQ(Split("/opt/my -stuff/run.sh %u"), (P{"/opt/my -stuff/run.sh", "%u"}));
}

TEST(SplitCommandLine, RundllWithAFolder) {
  EXPECT_EQ(Split("C:\\WINDOWS\\rundll32.exe url.dll,FileProtocolHandler %1"),
            (P{"C:\\WINDOWS\\rundll32.exe", "url.dll,FileProtocolHandler %1"}));
  EXPECT_EQ(Split("RUNDLL32.EXE shdocvw.dll,OpenURL %1"), (P{"RUNDLL32.EXE", "shdocvw.dll,OpenURL %1"}));
  // A DLL that is not started through rundll keeps the ordinary split.
  EXPECT_EQ(Split("host.exe lib.dll,Entry"), (P{"host.exe lib.dll", "Entry"}));
}

TEST(SplitCommandLine, LoneQuoteIsDropped) {
  EXPECT_EQ(Split("\"C:\\a b\\x.exe -k"), (P{"C:\\a b\\x.exe", "-k"}));
}

TEST(SplitCommandLine, EmptyCommandLeavesTheParameters) {
  EXPECT_EQ(Split("", "kept"), (P{"", "kept"}));
  EXPECT_EQ(Split("   ", "kept"), (P{"", "kept"}));
  EXPECT_EQ(Split("x", "dropped"), (P{"x", ""}));
}

TEST(SplitCommandLine, DegenerateQuotes) {
  EXPECT_EQ(Split("\"\""), (P{"", ""}));
  EXPECT_EQ(Split("\"\"x"), (P{"", ""}));
  EXPECT_EQ(Split("a\"\""), (P{"", ""}));
  EXPECT_EQ(Split("\""), (P{"", ""}));
}

namespace {

// A desktop of our own: XDG folders in a temporary folder, a browser script
// that writes its arguments and its session to a file, and a PATH whose
// xdg-open is such a script too.
class AssociationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"config", "data", "data/applications", "sys", "sys/applications", "bin", "out"})
      ASSERT_EQ(::mkdir((dir / d).c_str(), 0755), 0);
    env.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir / "config"));
    env.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_DIRS", dir / "config-sys"));
    env.push_back(std::make_unique<ScopedEnv>("XDG_DATA_HOME", dir / "data"));
    env.push_back(std::make_unique<ScopedEnv>("XDG_DATA_DIRS", dir / "sys"));
    env.push_back(std::make_unique<ScopedEnv>("XDG_CURRENT_DESKTOP", std::nullopt));
    const char* path = std::getenv("PATH");
    env.push_back(std::make_unique<ScopedEnv>("PATH", dir / "bin:" + (path ? path : "/usr/bin:/bin")));
  }

  // A program that writes "<session id> <pid> <arguments>" to out/<Name>.
  // Then: shell lines the program runs after recording.
  std::string MakeRecorder(const std::string& Name, const std::string& Where, const std::string& Then = "") {
    const std::string path = Where + "/" + Name;
    WriteFile(path,
              "#!/bin/sh\n"
              "sid=$(cut -d' ' -f6 /proc/$$/stat)\n"
              "echo \"$sid $$ $*\" > " + dir / ("out/" + Name) + ".tmp\n"
              "mv " + dir / ("out/" + Name) + ".tmp " + dir / ("out/" + Name) + "\n" + Then);
    EXPECT_EQ(::chmod(path.c_str(), 0755), 0);
    return path;
  }
  std::string Recorded(const std::string& Name, int TimeoutMs = 5000) {
    return kvtest::WaitForFileLine(dir / ("out/" + Name), TimeoutMs);
  }
  void Desktop(const std::string& Id, const std::string& Body, const std::string& Where = "data/applications") {
    WriteFile(dir / (Where + "/" + Id), "[Desktop Entry]\nType=Application\nName=Test\n" + Body);
  }
  void Defaults(const std::string& File, const std::string& Text) { WriteFile(dir / File, Text); }

  TempDir dir;
  std::vector<std::unique_ptr<ScopedEnv>> env;
};

}  // namespace

TEST_F(AssociationTest, TheDefaultForHtmlIsTheProgramOfItsDesktopEntry) {
  Desktop("testbrowser.desktop", "Exec=/opt/test\\sbrowser/browser --new-window %u\n");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=testbrowser.desktop;\n");
  EXPECT_EQ(GetAssociatedProgram(".html"), "/opt/test browser/browser");
  EXPECT_EQ(GetAssociatedProgram(".HTM"), "/opt/test browser/browser");
}

TEST_F(AssociationTest, QuotedExecAndFieldCodes) {
  Desktop("q.desktop", "Exec=\"/opt/My Browser/browser\" %U\n");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=q.desktop\n");
  EXPECT_EQ(GetAssociatedProgram(".html"), "/opt/My Browser/browser");
  EXPECT_EQ(platform::DesktopEntryCommand(dir / "data/applications/q.desktop"), "\"/opt/My Browser/browser\" ");
  Desktop("f.desktop", "Name[de]=x\nExec=browser %% %i %c %k %f\n");
  EXPECT_EQ(platform::DesktopEntryCommand(dir / "data/applications/f.desktop"), "browser %    ");
}

TEST_F(AssociationTest, SearchOrderOfTheLists) {
  Desktop("a.desktop", "Exec=/bin/a %u\n");
  Desktop("b.desktop", "Exec=/bin/b %u\n");
  Desktop("c.desktop", "Exec=/bin/c %u\n", "sys/applications");
  Desktop("d.desktop", "Exec=/bin/d %u\n");
  // The data folders' list, then the user's list in front of it, then a
  // desktop-specific list in front of both.
  Defaults("sys/applications/mimeapps.list", "[Default Applications]\ntext/html=c.desktop\n");
  EXPECT_EQ(GetAssociatedProgram(".html"), "/bin/c");
  Defaults("config/mimeapps.list",
           "[Added Associations]\ntext/html=d.desktop\n[Default Applications]\ntext/html=missing.desktop;a.desktop\n");
  EXPECT_EQ(GetAssociatedProgram(".html"), "/bin/a");
  Defaults("config/testde-mimeapps.list", "[Default Applications]\ntext/html=b.desktop\n");
  ScopedEnv desk("XDG_CURRENT_DESKTOP", "TestDE:GNOME");
  EXPECT_EQ(GetAssociatedProgram(".html"), "/bin/b");
}

TEST_F(AssociationTest, AddedAssociationsAndTheCacheAreTheLastResort) {
  Desktop("d.desktop", "Exec=/bin/d %u\n");
  Desktop("e.desktop", "Exec=/bin/e %u\n", "sys/applications");
  Defaults("sys/applications/mimeinfo.cache", "[MIME Cache]\ntext/html=e.desktop;\n");
  EXPECT_EQ(GetAssociatedProgram(".html"), "/bin/e");
  Defaults("config/mimeapps.list", "[Added Associations]\ntext/html=d.desktop\n");
  EXPECT_EQ(GetAssociatedProgram(".html"), "/bin/d");
}

TEST_F(AssociationTest, HiddenEntriesAndVendorFolders) {
  ASSERT_EQ(::mkdir((dir / "sys/applications/vendor").c_str(), 0755), 0);
  Desktop("vendor/app.desktop", "Exec=/bin/vendor-app\n", "sys/applications");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=gone.desktop;vendor-app.desktop\n");
  Desktop("gone.desktop", "Exec=/bin/gone\n", "sys/applications");
  Desktop("gone.desktop", "Hidden=true\n");  // the user's copy deletes it
  EXPECT_EQ(GetAssociatedProgram(".html"), "/bin/vendor-app");
}

TEST_F(AssociationTest, NothingFound) {
  EXPECT_EQ(GetAssociatedProgram(".html"), "");
  EXPECT_EQ(GetAssociatedProgram(""), "");
  EXPECT_EQ(GetAssociatedProgram("."), "");
  EXPECT_EQ(GetAssociatedProgram(".no-such-extension"), "");
  Desktop("noexec.desktop", "");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=noexec.desktop\n");
  EXPECT_EQ(GetAssociatedProgram(".html"), "");
}

TEST_F(AssociationTest, ExtensionsThroughMimeTypes) {
  EXPECT_EQ(platform::MimeTypeOfExtension(".html"), "text/html");
  EXPECT_EQ(platform::MimeTypeOfExtension(".Htm"), "text/html");
  EXPECT_EQ(platform::MimeTypeOfExtension("html"), "");
  if (kvtest::Exists("/etc/mime.types")) {
    EXPECT_EQ(platform::MimeTypeOfExtension(".png"), "image/png");
  }
}

TEST_F(AssociationTest, OpenURLStartsTheBrowserDetachedWithTheAddress) {
  // The browser stays open while the test holds it (30 s at most; the
  // test's folder going away lets it go too).
  const std::string hold = dir / "hold", closed = dir / "closed";
  WriteFile(hold, "");
  const std::string browser = MakeRecorder("browser", dir / "bin",
                                           "i=0\nwhile [ -e " + hold + " ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done\n"
                                           "touch " + closed + " 2>/dev/null\n");
  Desktop("rec.desktop", "Exec=" + browser + " %u\n");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=rec.desktop\n");
  OpenURL("www.example.com/page?a=1&b=2", true);
  const std::string line = Recorded("browser");
  EXPECT_FALSE(kvtest::Exists(closed)) << "OpenURL waited for the browser to close";
  ::unlink(hold.c_str());
  ASSERT_FALSE(line.empty()) << "the browser did not start";
  // "<sid> <pid> <args>": a session of its own, one argument.
  std::istringstream in(line);
  std::string sid, pid, arg, more;
  in >> sid >> pid >> arg;
  EXPECT_EQ(sid, pid);
  EXPECT_EQ(arg, "http://www.example.com/page?a=1&b=2");
  EXPECT_FALSE(in >> more);
}

TEST_F(AssociationTest, OpenURLKeepsAnyScheme) {
  const std::string browser = MakeRecorder("browser", dir / "bin");
  Desktop("rec.desktop", "Exec=" + browser + " %u\n");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=rec.desktop\n");
  OpenURL("ftp://files.example.com/a b.zip", true);
  const std::string line = Recorded("browser");
  EXPECT_NE(line.find(" ftp://files.example.com/a b.zip"), std::string::npos) << line;
}

TEST_F(AssociationTest, OpenWebURLOpensOnlyHttpAndHttps) {
  MakeRecorder("xdg-open", dir / "bin");
  for (const char* refused : {"file:///etc/passwd", "smb://host/share", "javascript://x", "FILE:///tmp"})
    EXPECT_FALSE(OpenWebURL(refused, false)) << refused;
  EXPECT_TRUE(Recorded("xdg-open", 300).empty()) << "nothing may be opened";
  EXPECT_TRUE(OpenWebURL("HTTPS://example.com/notes", false));
  EXPECT_NE(Recorded("xdg-open").find(" HTTPS://example.com/notes"), std::string::npos);
  ::unlink((dir / "out/xdg-open").c_str());
  EXPECT_TRUE(OpenWebURL("example.com/notes", false));  // no scheme: http
  EXPECT_NE(Recorded("xdg-open").find(" http://example.com/notes"), std::string::npos);
}

TEST_F(AssociationTest, OpenURLWithoutBrowserGoesToTheDesktopOpener) {
  const std::string browser = MakeRecorder("browser", dir / "bin");
  Desktop("rec.desktop", "Exec=" + browser + " %u\n");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=rec.desktop\n");
  MakeRecorder("xdg-open", dir / "bin");
  OpenURL("https://example.com/", false);
  const std::string line = Recorded("xdg-open");
  EXPECT_NE(line.find(" https://example.com/"), std::string::npos) << line;
  EXPECT_FALSE(kvtest::Exists(dir / "out/browser"));
}

TEST_F(AssociationTest, OpenURLFallsBackToTheOpener) {
  MakeRecorder("xdg-open", dir / "bin");
  OpenURL("example.com", true);  // no association at all
  EXPECT_NE(Recorded("xdg-open").find(" http://example.com"), std::string::npos);
  ::unlink((dir / "out/xdg-open").c_str());
  Desktop("broken.desktop", "Exec=/no/such/browser %u\n");
  Defaults("config/mimeapps.list", "[Default Applications]\ntext/html=broken.desktop\n");
  OpenURL("example.org", true);  // the program cannot be started
  EXPECT_NE(Recorded("xdg-open").find(" http://example.org"), std::string::npos);
}

TEST_F(AssociationTest, OpenURLDoesNotPassOptions) {
  MakeRecorder("xdg-open", dir / "bin");
  OpenURL("--help://x", false);
  OpenURL("-x://y", true);
  EXPECT_EQ(Recorded("xdg-open", 300), "");
}
