// Win32 backend: the shell's own calls.
#include "ProcessPlatform.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

namespace platform {
namespace {

std::wstring toWide(const std::string& strText) {
    if (strText.empty()) return std::wstring();
    const int iLength = MultiByteToWideChar(CP_UTF8, 0, strText.data(), (int)strText.size(), nullptr, 0);
    std::wstring wstrText(iLength, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, strText.data(), (int)strText.size(), &wstrText[0], iLength);
    return wstrText;
}

std::string toUtf8(const wchar_t* wszText, int iLength) {
    const int iBytes = WideCharToMultiByte(CP_UTF8, 0, wszText, iLength, nullptr, 0, nullptr, nullptr);
    std::string strText(iBytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wszText, iLength, &strText[0], iBytes, nullptr, nullptr);
    return strText;
}

class Win32ProcessPlatform final : public ProcessPlatform {
public:
    bool isUserAnAdmin() override { return IsUserAnAdmin() != FALSE; }

    bool moduleFileName(std::string& strPath) override {
        wchar_t wszPath[MAX_PATH];
        const DWORD dwLength = GetModuleFileNameW(nullptr, wszPath, MAX_PATH);
        if (dwLength == 0) return false;
        strPath = toUtf8(wszPath, (int)dwLength);
        return true;
    }

    unsigned long shellExecuteRunAs(const std::string& strPath) override {
        const std::wstring wstrPath = toWide(strPath);
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = 0;
        info.hwnd = nullptr;
        info.lpVerb = L"runas";
        info.lpFile = wstrPath.c_str();
        info.lpParameters = nullptr;
        info.lpDirectory = nullptr;
        info.nShow = SW_SHOWNORMAL;
        if (ShellExecuteExW(&info)) return 0;
        return GetLastError();
    }
};

}  // namespace

ProcessPlatform& systemProcessPlatform() {
    static Win32ProcessPlatform s_platform;
    return s_platform;
}

}  // namespace platform
