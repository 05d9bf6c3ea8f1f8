// The texts the player sees, each held once: code and tests use these names.
// They are Windows-1250 bytes (the sources are UTF-8 and are compiled with
// -fexec-charset=CP1250), and each is one object in the executable however
// many files use it.
#pragma once

// The caption of every box and of the dialog; the out-of-memory error; what
// a question to continue ends with.
inline constexpr char kCaption[] = "Vendrake II PL - PATCH 1.00B";
inline constexpr char kOutOfMemory[] =
    "Za mało pamięci do przeprowadzenia\nprocesu aktualizacji Vendrake II PL.";
inline constexpr char kContinueSuffix[] = "\n\nCzy chcesz kontynuować?";

// Start-up: discovery and the confirmation.
inline constexpr char kNotInstalled[] = "Gra Vendrake II PL nie jest zainstalowana.";
inline constexpr char kRegistryUnreadable[] =
    "Nie można odczytać z rejestru\ninformacji o grze Vendrake II PL.";
inline constexpr char kDirectoryNotFound[] = "Nie znaleziono katalogu \"%s\".";
// A folder Windows won't let the administrator enter: behind a junction that
// a user without administrator rights made, and a drive ("%s": its letter and
// colon) that exists only in the player's own logon session.
inline constexpr char kJunctionUntrusted[] =
    "Nie można otworzyć katalogu \"%s\": prowadzi do niego połączenie katalogów (junction) utworzone bez "
    "uprawnień administratora, a system Windows nie pozwala z niego korzystać.\nUtwórz to połączenie "
    "ponownie z uprawnieniami administratora i uruchom aktualizację jeszcze raz.";
inline constexpr char kDriveInvisible[] =
    "Dysk \"%s\" nie jest widoczny dla programów uruchomionych z uprawnieniami administratora (to dysk "
    "sieciowy lub dysk utworzony poleceniem subst).\nUtwórz go również w wierszu polecenia uruchomionym jako "
    "administrator albo zainstaluj grę na dysku lokalnym i uruchom aktualizację jeszcze raz.";
// A file the update changes that another program holds (the game running).
inline constexpr char kFileInUse[] =
    "Plik \"%s\" jest używany przez inny program.\nZamknij grę Vendrake II PL i uruchom aktualizację "
    "jeszcze raz.";
inline constexpr char kConfirmUpdate[] =
    "Znaleziono grę Vendrake II PL w katalogu \"%s\".\nCzy chcesz kontynuować aktualizację gry?";

// The file operations ("%s": the file).
inline constexpr char kCannotOpen[] = "Nie można otworzyć pliku \"%s\".";
inline constexpr char kCannotRead[] = "Nie można odczytać danych z pliku \"%s\".";
inline constexpr char kCannotWrite[] = "Nie można zapisać danych do pliku \"%s\".";
inline constexpr char kCannotCreate[] = "Nie można utworzyć pliku \"%s\".";
inline constexpr char kBadFileName[] = "Niewłaściwa nazwa pliku \"%s\"";
inline constexpr char kBadFileName2[] = "Niewłaściwa nazwa pliku \"%s%s\"";

// The registry values.
inline constexpr char kRegistryBadType[] = "Nieobsługiwany typ wartości rejetru";
inline constexpr char kRegistryCannotModify[] = "Nie można zmodyfikować wpisów do rejestru";

// The progress dialog.
inline constexpr char kCancelQuestion[] = "Czy na pewno chcesz anulować aktualizację gry?";
inline constexpr char kStatusRunning[] = "Trwa uaktualnianie gry Vendrake II PL";
inline constexpr char kStatusDone[] = "Uaktualnienie gry Vendrake II PL zakończone pomyślnie";
inline constexpr char kFinishButton[] = "Zakończ";

// The pieces of the log's lines.
inline constexpr char kLogRegistry[] = "Uaktualnianie wpisów do rejestru...";
inline constexpr char kLogFileOpen[] = "Uaktualnianie pliku \"";
inline constexpr char kLogFileClose[] = "\"...";
inline constexpr char kLogOk[] = " OK\r\n";
// Ends the line of a saved game the user chose to go on from after a failure:
// left as it was, or not wholly done.
inline constexpr char kLogSkipped[] = " pominięto\r\n";
