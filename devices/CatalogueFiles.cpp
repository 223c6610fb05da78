#include "CatalogueFiles.h"

#include "ApplicationFolders.h"
#include "ShippedCatalogue.h"
#include "ShippedFiles.h"

namespace CatalogueFiles {

QString shippedFolder()
{
    return shippedCatalogueFolder();
}

QStringList installShipped()
{
    return installShipped(applicationFolder(ConfigFolder));
}

QStringList installShipped(const QString &configFolder)
{
    return ShippedFiles::install(shippedFolder(), configFolder);
}

} // namespace CatalogueFiles
