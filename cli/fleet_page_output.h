// Where fleet-backup's page (--html FILE) goes, and its writing at the run's end.
//
// Contract: main thread (or the thread that finishes an interrupted run, once the devices are
// held). The page replaces FILE in one step: it is written into a scratch file beside FILE first
// (a name starting with a dot, removed on every failure), so a reader never sees half a page.
#pragma once

#include <string>

// The scratch file a page is written into before it replaces `page`.
std::string FleetPageScratchPath(const std::string& page);
// `page`'s path relative to STORE when it lies inside STORE (at any depth), with '/' between its
// parts; empty when it lies elsewhere.
std::string FleetPagePathInStore(const std::string& page, const std::string& store);
// Writes `text` into `page` in one step. An existing page keeps its permissions; a new one is
// readable by its owner only. False with the system's words in *error; `page` is then as it was.
bool WriteFleetPageFile(const std::string& page, const std::string& text, std::string* error);
