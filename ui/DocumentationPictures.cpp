#include "ui/DocumentationPictures.h"
