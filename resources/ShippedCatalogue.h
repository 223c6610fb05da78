#pragma once

#include <QString>

// Resource folder that holds the device catalogue files shipped with the program.
QString shippedCatalogueFolder();
