#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CORXDatabase;

/// How big a generated database is and which sequence of choices fills it.
struct SampleDatabaseShape
{
    std::size_t links = 100000;
    std::size_t partners = 2000;
    /// The same seed gives the same database, byte for byte, on every machine.
    uint64_t seed = 0x4F5258'2006'0101ULL;
};

/// Fills the (empty) collections of `db` with partners and links that look like a long-running
/// user's: a few dozen projects, each partner owning one site, texts of everyday lengths, dates
/// over many years, mixed statuses and PageRanks, and a few German and Russian texts.
void FillSampleDatabase(CORXDatabase& db, const SampleDatabaseShape& shape = {});

/// Generates a database and saves it to `path`; false when the file could not be written.
bool WriteSampleDatabase(const std::string& path, const SampleDatabaseShape& shape = {});
