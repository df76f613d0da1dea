#pragma once

// Where an export writes. Private to the exchange folder.

#include "core/platform/TemporaryFiles.h"

#include <cstddef>
#include <optional>
#include <string>

/// A temporary file beside the export's target, put in the target's place only once complete. A
/// target the user may not write, or that is no plain file, is refused before anything is made.
/// The temporary is a new file of the user's, with the mode the user's umask gives, so a writer
/// that opens it by name can; a replaced target keeps its own mode. Until then the temporary is
/// removed when this goes, and by a signal that ends the program. Each step throws
/// std::runtime_error with the reason.
class CExportFile
{
public:
    explicit CExportFile(const std::string& path);
    ~CExportFile();
    CExportFile(const CExportFile&) = delete;
    CExportFile& operator=(const CExportFile&) = delete;

    /// The temporary, for a writer that opens it itself.
    const std::string& TemporaryPath() const { return m_temp; }
    /// Appends to the temporary through the descriptor held open from the start.
    void Write(const void* data, std::size_t size);
    /// Syncs the temporary and renames it over the target.
    void Commit();

private:
    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
    std::optional<TemporaryFiles::Registration> m_registration;
};
