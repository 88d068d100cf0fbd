// Package files for tests, written with the package writer.
#pragma once

#include <string>

#include "package/writer.h"

inline void WritePackage(const std::wstring& folder, const std::wstring& name, const std::wstring& title,
                         const std::string& content = "map data", const std::wstring& fileName = L"a.txt",
                         const std::wstring& recordFolder = L"maps") {
  package::PackageWriter writer(package::BuildPackagePath(folder, name),
                                *package::PackageHeader::Make(name, title, L"test package"));
  writer.AddData(recordFolder, fileName, content.data(), content.size(), 0, 0);
  writer.Close();
}
