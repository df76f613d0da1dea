#pragma once

#include <functional>

class CWorkspace;
class IScheduleStore;
class QWidget;

/// The options command: runs the sheet over a copy of the application's settings and, at OK,
/// takes the copy over: the database path is followed (a path that names no file yet is offered
/// as a new, empty database; refused, the old database and path stay), the check settings are
/// applied and "ORX.cfg" is saved. True when the settings were taken over, so that the caller
/// refreshes what it shows (and attaches the database again). `releaseRecords` runs before the
/// open database is replaced, for whatever still points into its records.
bool RunOptionsCommand(CWorkspace& workspace, IScheduleStore& schedule, QWidget* parent,
                       const std::function<void()>& releaseRecords = {});
