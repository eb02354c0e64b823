#pragma once
// The about box: who made the viewer, its version and the system it runs on.

#include <QIcon>
#include <memory>
#include <string>
#include <vector>

class QDialog;
class QWidget;

namespace tarvicon {

// The about box's lines, top to bottom: project, module name, description, "Verze: " + version,
// "OS: " + system, company.
std::vector<std::string> AboutLines();

// The application's icon, drawn at the usual icon sizes.
QIcon ApplicationIcon();

// The about box, titled "About Applicaiton...", modal, with the icon, the lines and OK; not shown.
std::unique_ptr<QDialog> MakeAboutBox(QWidget* parent);

// Shows the about box modally and releases it when it closes.
void ShowAboutBox(QWidget* parent);

} // namespace tarvicon
