#pragma once

#include <functional>

class CPartner;
class CPartnersManager;

/// Runs the new-partner command of a link dialog: the partner it added, or null when the user
/// cancelled it.
CPartner* AddPartnerFromDialog(CPartnersManager& partners, const std::function<void()>& addPartner);
