// Importing the authority certificate into the user's Firefox profiles.
#pragma once

// Run once while the main frame is constructed; reports nothing.
void ImportFirefoxTrust();
