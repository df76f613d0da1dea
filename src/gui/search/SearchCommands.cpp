#include "SearchCommands.h"

#include "CheckForDuplicatesDlg.h"

void RunDuplicatesSearch(const std::vector<CLink*>& links, QWidget* parent)
{
    CCheckForDuplicatesDlg dialog(std::vector<const CLink*>(links.begin(), links.end()), parent);
    dialog.exec();
}
