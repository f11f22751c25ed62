#pragma once
// The sibling application a folder holds. The kinds differ in their tables and in a few of
// the statements a change sends; the name is what the operator reads, the settings file
// stores and the data-link file is called after.

#include <QString>
#include <optional>

enum class TAppKind { None, Varlo, Meltra, Quibon, Tosvel };

// Every installed kind, in the order the probe tries them.
constexpr TAppKind kInstalledKinds[] = {TAppKind::Varlo, TAppKind::Meltra, TAppKind::Quibon, TAppKind::Tosvel};

// "Nenhum", "Varlo", "Meltra", "Quibon", "Tosvel".
QString AppName(TAppKind kind);

// The kind one of the four names stands for, compared without regard to case as Windows
// compares names; nothing for any other text ("", "Nenhum", "Outra").
std::optional<TAppKind> AppKindNamed(const QString& name);

// "Varlo, Meltra, Quibon ou Tosvel", for messages that list them.
QString InstalledKindNames();

inline bool IsMeltra(TAppKind kind) { return kind == TAppKind::Meltra; }
inline bool IsQuibon(TAppKind kind) { return kind == TAppKind::Quibon; }
