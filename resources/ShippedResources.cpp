#include "ShippedResources.h"

QString shippedLanguageFolder()
{
    return QStringLiteral(":/languages");
}
