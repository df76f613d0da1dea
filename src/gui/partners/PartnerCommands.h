#pragma once

class CPartnersManager;
class QWidget;

/// New partner: asks for the partner's texts and, on OK, adds the partner with all of them.
/// True when a partner was added. The caller brings the partner filter box up to date.
bool RunNewPartnerFlow(CPartnersManager& partners, QWidget* parent);
