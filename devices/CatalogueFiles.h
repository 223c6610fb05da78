#pragma once

#include <QString>
#include <QStringList>

// The default device catalogue shipped inside the program.
namespace CatalogueFiles {

// Resource folder holding the shipped "Nand.txt" and "SPI.txt".
QString shippedFolder();

// Copies the shipped catalogue files into the configuration folder (or
// `configFolder`, ending in "/"), creating it if needed. A file that already
// exists there is never touched: it may be the user's own. Returns the names
// of the files written.
QStringList installShipped();
QStringList installShipped(const QString &configFolder);

} // namespace CatalogueFiles
