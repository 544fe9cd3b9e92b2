#pragma once
struct Tool;

// "Nouveau site...", "Ouvrir un site..." and the sites opened last: from then on, what the tool
// learns goes into the chosen site file as a visit of the loop chosen, and the window's title
// names the site and the loop. The recent sites are kept in the user's configuration.
void Site_New_Mnu_Click(Tool& t);
void Site_Open_Mnu_Click(Tool& t);
void Site_Recent_Mnu_Click(Tool& t, int index);
// The recorder and the list of recent sites, at load.
void wire_site(Tool& t);
class QString;
// The engineer of the last visit begun, offered for the next one.
QString remembered_engineer();
// The site file named on the command line, once the window shows: as "Ouvrir un site..." does
// once the file is chosen (the loop and the engineer asked, a file that cannot be used said in a
// box).
void open_site_at_start(Tool& t, const QString& path);
// --last-site: the site file opened last, as open_site_at_start opens it. False, once a box has
// said so, when no site has been opened yet.
bool open_last_site_at_start(Tool& t);
