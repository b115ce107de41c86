#ifndef FILEHASH_APP_STARTUP_H
#define FILEHASH_APP_STARTUP_H

class QCoreApplication;

// Before the application object: follow the screen's scaling, with sharp pictures.
void setApplicationAttributes();

// After the application object: the desktop id names the desktop entry (and through it the menu's
// name and icon), the Wayland app id and, as the application name, the X11 window class, so the
// task bar puts the window under its menu entry. The icon comes from the icon theme when the
// package installed it, else from the executable's resources.
void setApplicationIdentity();

// Qt's own texts (dialogs, buttons, context menus) in Chinese, as the window's. False when the
// translations are not installed; the window then works with Qt's English.
bool installQtTranslations(QCoreApplication *app);

#endif
