#pragma once

#include <QString>

// Resource folder that holds the translation files shipped with the program.
QString shippedLanguageFolder();
