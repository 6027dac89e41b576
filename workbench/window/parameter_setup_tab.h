// The "Parameter Setup" page: the 31 run parameters as 27 boxes and four radio groups, shown from
// "config_para.csv" when the page is opened and written back by "Apply", plus the moving reminder.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <map>
#include <string>

#include "engine/records/para_configure.h"

class CKORVANE_Engine;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTimer;
class QVBoxLayout;

class ParameterSetupTab : public QWidget {
    Q_OBJECT
public:
    // configPath gives the window's chosen configuration folder, configBoxText the text of the
    // configuration box on the "Data Process" page (the two differ only while a choice fails).
    ParameterSetupTab(CKORVANE_Engine* engine, std::function<QString()> configPath,
                      std::function<QString()> configBoxText, QWidget* parent = nullptr);
    ~ParameterSetupTab() override;

    // The one modal of the page; tests replace it with a recorder.
    std::function<void(const QString& text)> showMessage;

    // Any change of the main window's selected tab: selected tells whether this page is now shown.
    void tabSelected(bool selected);
    void apply();
    void reminderTick();

    QTimer* reminderTimer() const { return reminderTimer_; }
    QLabel* reminderLabel() const { return remindLabel_; }

    // Radio fields. Cut-off modes are numbered as the engine's intensity cut-off reads them:
    // "Cutoff Intensity" = 1, "Cutoff Top Number" = 2, "Cutoff Low Percent" = 3.
    int m_Cutoff_Model = 0;
    int m_LC_MS_Profile_Centroid = 0;
    int m_LC_MS_Positive_Negative = 0;
    int m_Alignment_Phase_Num = 0;
    int Remind_lab_Dir = 1;  // 1 moving right, 0 moving left

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    using Parameter_Groups = std::array<QGroupBox*, 5>;  // indexed by korvane::Para_Group
    Parameter_Groups buildParameterGroups();
    QWidget* boxLabel(int box, QWidget* page);
    QVBoxLayout* buildModeGroups();
    QVBoxLayout* layOutPage(const Parameter_Groups& groups, QVBoxLayout* modes);
    void buildReminder(QVBoxLayout* page);
    void connectRadioFields();

    // The engine's parameters into the page; file holds the value text of each key's line.
    void fillFromPara(const std::map<std::string, std::string>& file);
    void clearAll();
    void placeReminderAtBottom();

    CKORVANE_Engine* engine_;
    std::function<QString()> configPath_;
    std::function<QString()> configBoxText_;
    QButtonGroup* cutoffGroup_ = nullptr;
    QButtonGroup* dataTypeGroup_ = nullptr;
    QButtonGroup* polarityGroup_ = nullptr;
    QButtonGroup* alignGroup_ = nullptr;
    std::array<QLineEdit*, korvane::kParaBoxCount> boxes_{};  // in the order "Apply" converts them
    QLabel* remindLabel_ = nullptr;
    QTimer* reminderTimer_ = nullptr;
};
