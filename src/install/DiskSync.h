#pragma once
// A file's written bytes on the disk itself, not only in the system's cache: what is recorded
// before a commit must outlive a power cut right after it.

class QFileDevice;

// Flushes file's buffers and asks the system to write them through; false when either failed.
bool SyncToDisk(QFileDevice& file);
