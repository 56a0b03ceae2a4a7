// String ids of setup.exe's texts (res/setup/strings.*): its messages, the wizard pages' texts and
// header lines, the carry-out stages and the sheet's buttons.
#pragma once

// Message captions and messages.
constexpr unsigned SetupStrError = 1001; // "Error"
constexpr unsigned SetupStrWarning = 1002; // "Warning"
constexpr unsigned SetupStrScriptError = 1003; // "There is an error in file %s, line %d. ..."
constexpr unsigned SetupStrCannotInstall = 1004; // "The installation cannot be executed"
constexpr unsigned SetupStrNewerInstalled = 1005; // "A more recent version of %s is currently installed ..."
constexpr unsigned SetupStrInstallFailed = 1006; // "The installation did not complete successfully."
constexpr unsigned SetupStrRemoveFailed = 1007; // "The deinstallation did not complete successfully."
constexpr unsigned SetupStrFailureReason = 1008; // "%s\r\n\r\n%s": a failure, then the system's text for it
constexpr unsigned SetupStrNothingToInstall = 1009; // "No software component can be installed on this computer."

// The pages' texts.
constexpr unsigned SetupStrChooseTarget = 1010; // "Please select a target folder for installation:"
constexpr unsigned SetupStrRestartInstall = 1011; // "Your computer must be restarted to complete the installation."
constexpr unsigned SetupStrInstallDone = 1012; // "The installation was completed successfully."
constexpr unsigned SetupStrRemoveDone = 1013; // "The deinstallation was completed successfully."
constexpr unsigned SetupStrCarryOutNote = 1014; // "Click Next to start. The installation cannot be cancelled ..."
constexpr unsigned SetupStrRestartRemove = 1020; // "Your computer must be restarted to complete the deinstallation."
constexpr unsigned SetupStrBrowse = 1039; // "Browse..."

// What the carry-out and removal pages show while a stage runs.
constexpr unsigned SetupStrStageStopServices = 1022; // "Stoping services ..."
constexpr unsigned SetupStrStageCopyFiles = 1023; // "Copying files ..."
constexpr unsigned SetupStrStageDeleteFiles = 1024; // "Deleting files ..."
constexpr unsigned SetupStrStageRegistry = 1025; // "Updating registry ..."
constexpr unsigned SetupStrStageShortcuts = 1026; // "Updating shortcuts ..."
constexpr unsigned SetupStrStageStartServices = 1027; // "Starting services ..."

// The pages' header title and subtitle.
constexpr unsigned SetupStrRemoveTitle = 1018; // "Carry out Deinstallation"
constexpr unsigned SetupStrRemoveSubtitle = 1019; // "The deinstallation can now be performed."
constexpr unsigned SetupStrLicenseTitle = 1030; // "License Agreement"
constexpr unsigned SetupStrLicenseSubtitle = 1031; // "Please read the following license agreement carefully."
constexpr unsigned SetupStrComponentsTitle = 1032; // "Software Components"
constexpr unsigned SetupStrComponentsSubtitle = 1033; // "Specify which software components you want ..."
constexpr unsigned SetupStrTargetTitle = 1034; // "Target Directory"
constexpr unsigned SetupStrTargetSubtitle = 1035; // "You can select a target directory where ..."
constexpr unsigned SetupStrCarryOutTitle = 1036; // "Carry out Installation"
constexpr unsigned SetupStrCarryOutSubtitle = 1037; // "The installation can now be performed."

// The wizard sheet's buttons in the pages' language.
constexpr unsigned SetupStrBack = 1040; // "< &Back"
constexpr unsigned SetupStrNext = 1041; // "&Next >"
constexpr unsigned SetupStrFinish = 1042; // "Finish"
constexpr unsigned SetupStrCancel = 1043; // "Cancel"

// Texts read through SetupExpandString: they name the suite (1301) by "%+N" / "%-N" references, the
// welcome and removal texts through 1303.
constexpr unsigned SetupStrCaption = 1300; // "%+1 Software Setup": the sheet's caption, the title lines
constexpr unsigned SetupStrWelcome = 1302; // "This Wizard installs the %+1 software on your computer. ..."
constexpr unsigned SetupStrRemoveWelcome = 1304; // "This Wizard removes the %-1 software from your computer. ..."

// The restart question the installer asks itself when the system asks none (after 1011 or 1020).
constexpr unsigned SetupStrRestartNow = 1400; // "Do you want to restart your computer now?"
