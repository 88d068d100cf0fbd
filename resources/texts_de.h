// The German texts the setup forms: the extraction's failures, the copy
// page's current file, the list's column and the folder browser's title. The
// dialogs' own texts are in tessavo.rc.
#pragma once

namespace texts_de {

// Before the name of the file being unpacked.
inline constexpr wchar_t kCopying[] = L"Kopiere: ";
// The choose page's only column; its heading is never shown.
inline constexpr wchar_t kListColumn[] = L"Produktbeschreibung";
inline constexpr wchar_t kChooseDestination[] = L"Bitte w\u00e4hlen Sie einen Zielordner:";

// The extraction's failures; "%s" stands for the path.
inline constexpr wchar_t kUnsafePath[] = L"Der Pfad '%s' im Paket f\u00FChrt aus dem Zielordner hinaus.";
inline constexpr wchar_t kFolderNotCreated[] = L"Der Ordner '%s' konnte nicht erstellt werden.";
inline constexpr wchar_t kOutputNotOpened[] = L"Die Ausgabedatei '%s' konnte nicht ge\u00F6ffnet werden.";
inline constexpr wchar_t kDamaged[] = L"Die Datei '%s' im Paket ist besch\u00E4digt.";
inline constexpr wchar_t kNotUnpacked[] = L"Die Datei '%s' konnte nicht entpackt werden.";

}  // namespace texts_de
