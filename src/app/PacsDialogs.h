#pragma once
// "Open from PACS…": the server's address, the search fields and a table of the studies found;
// double-click or Enter on a study chooses it. The last server is kept in the user settings
// without its login.

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QLineEdit;
class QTableWidget;

namespace tarvicon {

class TPacsDialog : public QDialog {
public:
    // The dialog with the server field set to server (shown without its login); not shown.
    explicit TPacsDialog(const std::string& server, QWidget* parent = nullptr);

    // The fields, for the window's tests.
    QLineEdit& ServerField() { return *server_; }
    QLineEdit& PatientField() { return *patient_; }
    QLineEdit& PatientIdField() { return *patientId_; }
    QLineEdit& DateField() { return *date_; }
    QLineEdit& ModalityField() { return *modality_; }
    QTableWidget& Results() { return *results_; }
    // The search's outcome: "N studies", or the failure's message.
    QString StatusText() const;

    // Asks the server for the studies that match the fields and fills the table.
    void Search();
    // The "dicomweb:" address of the study in the table's row (with the server field's login);
    // empty when there is no such row.
    std::string StudyAddress(int row) const;
    // The address of the chosen study once the dialog is accepted.
    const std::string& ChosenAddress() const { return chosen_; }
    // The server field without its login.
    std::string ShownServer() const;

private:
    void Choose(int row);

    QLineEdit* server_;
    QLineEdit* patient_;
    QLineEdit* patientId_;
    QLineEdit* date_;
    QLineEdit* modality_;
    QTableWidget* results_;
    QLabel* status_;
    std::string searchedServer_; // the server of the rows in the table, as typed
    std::string chosen_;
};

// Puts "Open from PACS…" into the submenu of menu that holds the action after, right after it;
// the entry runs open. Returns the entry.
QAction& AddPacsEntry(QMenu& menu, const QAction& after, std::function<void()> open);

// The last server of the program's "Open from PACS…" ("LastPacsServer"); empty when none.
std::string ReadLastPacsServer(const QString& programName);
// Stores the server without its login.
void WriteLastPacsServer(const QString& programName, const std::string& server);

} // namespace tarvicon
