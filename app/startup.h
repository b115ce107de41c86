#ifndef FILEHASH_APP_STARTUP_H
#define FILEHASH_APP_STARTUP_H

class QCoreApplication;

// Before the application object: follow the screen's scaling, with sharp pictures.
void setApplicationAttributes();

// Qt's own texts (dialogs, buttons, context menus) in Chinese, as the window's. False when the
// translations are not installed; the window then works with Qt's English.
bool installQtTranslations(QCoreApplication *app);

#endif
