// DLLs planted beside the setup and the tool under the names programs load.
#include <gtest/gtest.h>

#include <windows.h>
#include <prsht.h>

#include <cstring>
#include <cwctype>
#include <filesystem>
#include <string>
#include <vector>

#include "end_to_end_support.h"
#include "remote_wizard.h"
#include "resources/resource.h"
#include "support/temp_dir.h"

namespace {

// DLLs that Windows programs and the system's own DLLs load by name, as a
// downloads folder may hold them beside the setup.
constexpr const wchar_t* kPlantedDlls[] = {
    L"shcore",        L"shlwapi",     L"shell32",       L"comctl32", L"uxtheme", L"version",  L"dwmapi",   L"cryptbase",
    L"propsys",       L"textshaping", L"comdlg32",      L"oleaut32", L"imm32",   L"msimg32",  L"oleacc",   L"winmm",
    L"windowscodecs", L"userenv",     L"profapi",       L"sspicli",  L"secur32", L"cryptsp",  L"bcrypt",   L"crypt32",
    L"wintrust",      L"apphelp",     L"edputil",       L"ntmarta",  L"mpr",     L"netapi32", L"wtsapi32", L"setupapi",
    L"cfgmgr32",      L"msctf",       L"explorerframe", L"dbghelp",  L"user32",  L"gdi32",    L"advapi32", L"ole32"};

void PlantDlls(const std::filesystem::path& folder) {
  const std::wstring planted = EnvPath("TESSAVO_PLANTED_DLL");
  for (const wchar_t* name : kPlantedDlls) {
    const std::filesystem::path copy = folder / (std::wstring(name) + L".dll");
    ASSERT_TRUE(::CopyFileW(planted.c_str(), copy.c_str(), FALSE)) << "cannot plant " << copy;
  }
}

// "NAME.dll in PROGRAM\n..." for each planted DLL that ran.
std::vector<std::wstring> PlantedDllsThatRan(const std::filesystem::path& folder) {
  std::vector<std::wstring> ran;
  for (const wchar_t* name : kPlantedDlls) {
    const std::filesystem::path trace = folder / (std::wstring(name) + L".dll.ran");
    if (!std::filesystem::exists(trace)) continue;
    const std::vector<std::uint8_t> bytes = ReadAll(trace);
    std::wstring programs(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(programs.data(), bytes.data(), programs.size() * sizeof(wchar_t));
    ran.push_back(std::wstring(name) + L".dll in " + programs);
  }
  return ran;
}

std::wstring LowerWide(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

}  // namespace

// A setup runs elevated from wherever it was downloaded to: no DLL beside it
// may run, however the programs or the system's DLLs ask for it, and the
// programs still work.
TEST(PlantedDlls, NoneRunsInTheToolTheQuietSetupOrTheWizard) {
  Medium medium;
  // Over a kilobyte, so that the page's sizes show whether the shell formats them.
  const std::vector<std::uint8_t> content = RandomBytes(3000, 7);
  ASSERT_TRUE(medium.Create(L"PKG-A", L"Alpen", {{L"alpen\\nord", L"a.dat", content}}));
  const std::wstring tool = (medium.Folder() / L"nwq.exe").wstring();
  ASSERT_TRUE(::CopyFileW(EnvPath("NWQ_EXE").c_str(), tool.c_str(), FALSE));
  ASSERT_NO_FATAL_FAILURE(PlantDlls(medium.Folder()));
  ScratchFolder target;
  ClearSettings();

  // The tool reads its command line and makes folders through the shell.
  const std::filesystem::path byTool = target.path() / L"tool";
  RemoteWizard nwq(tool, L"extract " + Quoted(medium.Package(L"PKG-A")) + L" " + Quoted(byTool.wstring()), false);
  EXPECT_EQ(nwq.WaitForExit(std::chrono::seconds(60)), 0u);
  EXPECT_EQ(ReadAll(byTool / L"alpen" / L"nord" / L"a.dat"), content);

  const Ended quiet = RunToTheEnd(medium, L"/quiet /dir=" + Quoted(target.Folder(L"quiet")));
  EXPECT_EQ(quiet.code, kSuccess);
  EXPECT_EQ(ReadAll(target.path() / L"quiet" / L"alpen" / L"nord" / L"a.dat"), content);

  // The wizard: its check boxes, the sizes on the destination page, the
  // folder browser.
  RemoteWizard wizard(medium.Program());
  ASSERT_TRUE(wizard.started());
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Welcome"));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose Files"));
  ASSERT_TRUE(wizard.ClickCheckBox(IDC_LIST_FILES, 0));
  EXPECT_TRUE(WaitForChecks(wizard, {false}));
  EXPECT_TRUE(wizard.WaitForButton(kNextButton, false));
  ASSERT_TRUE(wizard.ClickCheckBox(IDC_LIST_FILES, 0));
  EXPECT_TRUE(WaitForChecks(wizard, {true}));
  ASSERT_TRUE(wizard.WaitForButton(kNextButton, true));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(wizard.WaitForTitle(L"VARNHOLT Setup: Choose destination folder"));
  const std::wstring required = L"Space required: " + ByteSize(content.size()) + L"\r\n";
  EXPECT_TRUE(WaitUntil([&] { return wizard.Text(IDC_SPACE).rfind(required, 0) == 0; })) << wizard.Text(IDC_SPACE);
  wizard.Click(IDC_BROWSE);
  HWND browser = wizard.WaitForDialog();
  ASSERT_NE(browser, nullptr);
  Screenshot(L"folder-browser");
  RemoteWizard::AnswerDialog(browser, IDCANCEL);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(browser); }));
  // The common controls of the manifest, version 6, not the system folder's.
  std::vector<std::wstring> commonControls;
  for (const std::wstring& path : wizard.ModulePaths()) {
    if (LowerWide(std::filesystem::path(path).filename().wstring()) == L"comctl32.dll") commonControls.push_back(path);
  }
  EXPECT_FALSE(commonControls.empty());
  for (const std::wstring& path : commonControls) {
    const std::wstring lower = LowerWide(path);
    EXPECT_NE(lower.find(L"\\winsxs\\"), std::wstring::npos) << path;
    EXPECT_NE(lower.find(L"_microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos) << path;
  }
  wizard.Press(PSBTN_CANCEL);
  EXPECT_EQ(wizard.WaitForExit(), kUserCancel);

  EXPECT_EQ(PlantedDllsThatRan(medium.Folder()), std::vector<std::wstring>{});
}
