#include "app/TarvoFernhallApp.h"

START_JUCE_APPLICATION (TarvoFernhallApp)
