// Coordinate entry: the longitude and latitude fields of the main window.
#pragma once

// Parses the text of the longitude (which = 0, control 401, -180..180) or
// latitude (which = 1, control 402, -90..90) field. Accepts an optional
// leading '-', digits and at most one '.', with up to 15 digits on either
// side of the point. Sets st.val_long / st.val_lat to 1 on success and to 0
// otherwise; every failure except an empty field shows an "Info" box.
// Returns the value, or 0.0 on any failure.
double checklonlat(int which);
