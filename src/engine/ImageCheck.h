#pragma once
// Whether a change whose commit was cut short reached the database: its images say what the
// rows held before it and what it left in them, and the database now holds one or the other,
// or, once anything else has written to those rows since, neither.

#include "ChangeImages.h"
#include "TDbConnection.h"

enum class TImageMatch {
    After,    // every row as the change left it: the commit happened
    Before,   // every row as the change found it: it did not
    Neither,  // anything else: nobody can tell
};

// Reads the rows of image's change as they stand, a few hundred products at a time (the
// memory does not grow with the products). Raises TDbError.
TImageMatch MatchImages(TDbConnection& db, const TChangeImage& image);
