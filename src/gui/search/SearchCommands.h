#pragma once

#include <vector>

class CLink;
class QWidget;

/// "Find duplicates..." over `links` (every link of the database, in collection order).
void RunDuplicatesSearch(const std::vector<CLink*>& links, QWidget* parent);
