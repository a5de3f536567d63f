<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="cs_CZ">
<context>
    <name>zorvid::SetupHooks</name>
    <message>
        <source>Nastavení TCP</source>
        <translation>TCP settings</translation>
    </message>
</context>
<context>
    <name>zorvid::TDataPage</name>
    <message>
        <source>Zobrazení dat a automatických informací</source>
        <translation>Data and automatic information</translation>
    </message>
    <message>
        <source>Platnost dat:</source>
        <translation>Data expiry:</translation>
    </message>
    <message>
        <source>&amp;Trvale</source>
        <translation>&amp;Permanently</translation>
    </message>
    <message>
        <source>&amp;Po dobu [s]</source>
        <translation>For [&amp;s]</translation>
    </message>
    <message>
        <source>Zo&amp;brazit info. po zapnutí displeje</source>
        <translation>Show i&amp;nfo after the display is switched on</translation>
    </message>
    <message>
        <source>Zobrazit info. po v&amp;ypršení platnosti dat</source>
        <translation>S&amp;how info after the data expire</translation>
    </message>
    <message>
        <source>Auto&amp;matické přepínání času</source>
        <translation>Automatic time s&amp;witching</translation>
    </message>
    <message>
        <source>&amp;Letní čas</source>
        <translation>S&amp;ummer time</translation>
    </message>
    <message>
        <source>&amp;12 hodinový formát času</source>
        <translation>&amp;12-hour time format</translation>
    </message>
    <message>
        <source>&amp;Formát data měsíc/den/rok</source>
        <translation>Date format month/day/&amp;year</translation>
    </message>
    <message>
        <source>Rotovat tyto údaje:</source>
        <translation>Rotate these items:</translation>
    </message>
    <message>
        <source>Č&amp;as</source>
        <translation>&amp;Time</translation>
    </message>
    <message>
        <source>&amp;Datum</source>
        <translation>Dat&amp;e</translation>
    </message>
    <message>
        <source>T&amp;eplota</source>
        <translation>Te&amp;mperature</translation>
    </message>
    <message>
        <source>Časo&amp;vý posun</source>
        <translation>T&amp;ime offset</translation>
    </message>
    <message>
        <source>&amp;Index zóny</source>
        <translation>&amp;Zone index</translation>
    </message>
    <message>
        <source>Na&amp;hrát nastavení</source>
        <translation>&amp;Load settings</translation>
    </message>
    <message>
        <source>&amp;Uložit nastavení</source>
        <translation>Sa&amp;ve settings</translation>
    </message>
</context>
<context>
    <name>zorvid::TDisplayPage</name>
    <message>
        <source>Displej</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>&amp;Text displeje:</source>
        <translation>Display &amp;text:</translation>
    </message>
    <message>
        <source>N&amp;astavit</source>
        <translation>&amp;Set</translation>
    </message>
    <message>
        <source>Zobrazit aktuální &amp;informace</source>
        <translation>Show current &amp;information</translation>
    </message>
    <message>
        <source>Teplota:</source>
        <translation>Temperature:</translation>
    </message>
</context>
<context>
    <name>zorvid::TIntEdit</name>
    <message>
        <source>%1 musí být v rozmezí od %2 do %3!</source>
        <translation>%1 must be between %2 and %3!</translation>
    </message>
</context>
<context>
    <name>zorvid::TOtherPage</name>
    <message>
        <source>Jas displeje</source>
        <translation>Display brightness</translation>
    </message>
    <message>
        <source>S&amp;taticky</source>
        <translation>&amp;Static</translation>
    </message>
    <message>
        <source>Automati&amp;cky dle okolního osvětlení</source>
        <translation>A&amp;utomatic by ambient light</translation>
    </message>
    <message>
        <source>&amp;Hodnota jasu:</source>
        <translation>&amp;Brightness:</translation>
    </message>
    <message>
        <source>&amp;Minimální jas:</source>
        <translation>&amp;Minimum brightness:</translation>
    </message>
    <message>
        <source>Maximální &amp;jas:</source>
        <translation>Ma&amp;ximum brightness:</translation>
    </message>
    <message>
        <source>Umělé zvýšení hodnot&amp;y osvětlení senzoru [%]:</source>
        <translation>Se&amp;nsor light reading boost [%]:</translation>
    </message>
    <message>
        <source>N&amp;ahrát nastavení</source>
        <translation>&amp;Load settings</translation>
    </message>
    <message>
        <source>U&amp;ložit nastavení</source>
        <translation>Sa&amp;ve settings</translation>
    </message>
    <message>
        <source>Datum a čas</source>
        <translation>Date and time</translation>
    </message>
    <message>
        <source>&amp;Datum a čas:</source>
        <translation>Date and &amp;time:</translation>
    </message>
    <message>
        <source>&amp;Uložit podle PC</source>
        <translation>Set from &amp;PC</translation>
    </message>
    <message>
        <source>Nahrát nasta&amp;vení</source>
        <translation>Load s&amp;ettings</translation>
    </message>
    <message>
        <source>Ulož&amp;it nastavení</source>
        <translation>Save sett&amp;ings</translation>
    </message>
    <message>
        <source>Komunikace</source>
        <translation>Communication</translation>
    </message>
    <message>
        <source>Adr&amp;esa a rychlost…</source>
        <translation>Add&amp;ress and speed…</translation>
    </message>
    <message>
        <source>Nepřipojeno.</source>
        <translation>Not connected.</translation>
    </message>
    <message>
        <source>Adresa %1, %2 Bd</source>
        <translation>Address %1, %2 Bd</translation>
    </message>
    <message>
        <source>Adresa %1, linka TCP</source>
        <translation>Address %1, TCP line</translation>
    </message>
</context>
<context>
    <name>zorvid::TStatusLine</name>
    <message>
        <source>Podrobnosti</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>Spojení bylo úspěšně navázáno.</source>
        <translation>Connected successfully.</translation>
    </message>
    <message>
        <source>Spojení se nepodařilo navázat!</source>
        <translation>The connection could not be made!</translation>
    </message>
    <message>
        <source>Nastavení bylo úspěšně nahráno ze zařízení.</source>
        <translation>The settings were loaded from the display.</translation>
    </message>
    <message>
        <source>Nastavení se nepodařilo nahrát ze zařízení!</source>
        <translation>The settings could not be loaded from the display!</translation>
    </message>
    <message>
        <source>Nastavení bylo úspěšně uloženo do zařízení.</source>
        <translation>The settings were saved to the display.</translation>
    </message>
    <message>
        <source>Nastavení se nepodařilo uložit do zařízení!</source>
        <translation>The settings could not be saved to the display!</translation>
    </message>
    <message>
        <source>Zobrazování aktuální informace bylo úspěšně uloženo do zařízení.</source>
        <translation>Showing the current information was saved to the display.</translation>
    </message>
    <message>
        <source>Zobrazování aktuální informace se nepodařilo uložit do zařízení!</source>
        <translation>Showing the current information could not be saved to the display!</translation>
    </message>
    <message>
        <source>Probíhá komunikace…</source>
        <translation>Communicating…</translation>
    </message>
    <message>
        <source>Displej neodpovídá.</source>
        <translation>The display does not answer.</translation>
    </message>
    <message>
        <source>Spojení bylo přerušeno.</source>
        <translation>The connection was lost.</translation>
    </message>
    <message>
        <source>Obnovuji spojení…</source>
        <translation>Reconnecting…</translation>
    </message>
    <message>
        <source>Spojení bylo obnoveno.</source>
        <translation>The connection was restored.</translation>
    </message>
    <message>
        <source>Spojení bylo ukončeno.</source>
        <translation>Disconnected.</translation>
    </message>
    <message>
        <source>Spojení bylo navázáno, ale nastavení se nepodařilo nahrát.</source>
        <translation>Connected, but the settings could not be loaded.</translation>
    </message>
    <message>
        <source>Nejdříve nahrajte nastavení ze zařízení.</source>
        <translation>Load the settings from the display first.</translation>
    </message>
    <message>
        <source>Parametry zobrazení byly uloženy, platnost dat ne.</source>
        <translation>The date-time parameters were saved, the data expiry was not.</translation>
    </message>
    <message>
        <source>Statický jas byl uložen, automatický jas ne.</source>
        <translation>The static brightness was saved, the automatic brightness was not.</translation>
    </message>
    <message>
        <source>Nastavení bylo uloženo, ale nepodařilo se ho přečíst zpět.</source>
        <translation>The settings were saved but could not be read back.</translation>
    </message>
    <message>
        <source>Zařízení uložilo jiné hodnoty:</source>
        <translation>The display stored other values:</translation>
    </message>
    <message>
        <source>Nastavení bylo uloženo do souboru.</source>
        <translation>The settings were saved to the file.</translation>
    </message>
    <message>
        <source>Nastavení se nepodařilo uložit do souboru!</source>
        <translation>The settings could not be saved to the file!</translation>
    </message>
    <message>
        <source>Soubor s nastavením nelze použít!</source>
        <translation>The settings file cannot be used!</translation>
    </message>
    <message>
        <source>Soubor se shoduje se zařízením.</source>
        <translation>The file matches the display.</translation>
    </message>
    <message>
        <source>Nastavení ze souboru nebylo zapsáno.</source>
        <translation>The settings from the file were not written.</translation>
    </message>
    <message>
        <source>Adresu a rychlost se nepodařilo přečíst ze zařízení!</source>
        <translation>The address and speed could not be read from the display!</translation>
    </message>
    <message>
        <source>Displej odpovídá na nové adrese a rychlosti.</source>
        <translation>The display answers at the new address and speed.</translation>
    </message>
    <message>
        <source>Displej nepovolil konfiguraci (0xE4), nic se nezměnilo.</source>
        <translation>The display refused the configuration (0xE4); nothing changed.</translation>
    </message>
    <message>
        <source>Displej nepřijal novou adresu a rychlost (0xE0).</source>
        <translation>The display refused the new address and speed (0xE0).</translation>
    </message>
    <message>
        <source>Na nových hodnotách displej neodpověděl, spojení je na původních.</source>
        <translation>No answer at the new values; connected at the old ones again.</translation>
    </message>
    <message>
        <source>Displej neodpovídá na nových ani na původních hodnotách!</source>
        <translation>The display answers at neither the new nor the old values!</translation>
    </message>
    <message>
        <source>Nahráno, ale displej drží neplatnou hodnotu.</source>
        <translation>Loaded, but the display holds an invalid value.</translation>
    </message>
    <message>
        <source>Stav displeje nelze přečíst.</source>
        <translation>The display&apos;s state cannot be read.</translation>
    </message>
    <message>
        <source>Adresa a rychlost displeje se nezměnily.</source>
        <translation>The display&apos;s address and speed did not change.</translation>
    </message>
    <message>
        <source>Není známo, zda displej novou adresu a rychlost přijal.</source>
        <translation>Unknown whether the display took the new address and speed.</translation>
    </message>
    <message>
        <source>Není známo, zda displej nastavení uložil.</source>
        <translation>Unknown whether the display stored the settings.</translation>
    </message>
    <message>
        <source>Komunikace skončila chybou programu.</source>
        <translation>The communication ended in a program error.</translation>
    </message>
    <message>
        <source>Bez odpovědi od %1</source>
        <translation>No answer since %1</translation>
    </message>
    <message>
        <source>Pokusů o obnovení: %1</source>
        <translation>Reconnect attempts: %1</translation>
    </message>
    <message>
        <source>Důvod: %1</source>
        <translation>Reason: %1</translation>
    </message>
    <message>
        <source> datum a čas (odesláno %1, přečteno %2)</source>
        <translation> date and time (sent %1, read %2)</translation>
    </message>
    <message>
        <source>Ze souboru bylo zapsáno: %1; nezapsáno: %2.</source>
        <translation>Written from the file: %1; not written: %2.</translation>
    </message>
    <message>
        <source>Na lince je jiný displej!</source>
        <translation>Another display is on the line!</translation>
    </message>
    <message>
        <source>Před přerušením: %1
Nyní: %2</source>
        <translation>Before the line was lost: %1&#xa;Now: %2</translation>
    </message>
</context>
<context>
    <name>zorvid::TfAbout</name>
    <message>
        <source>Domovská stránka</source>
        <translation>Home page</translation>
    </message>
</context>
<context>
    <name>zorvid::TfCiLog</name>
    <message>
        <source>Komunikační log</source>
        <translation>Communication log</translation>
    </message>
    <message>
        <source>Kopírovat</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>Vybrat vše</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>Uložit jako…</source>
        <translation>Save as…</translation>
    </message>
    <message>
        <source>Zobrazit milisekundy</source>
        <translation>Show milliseconds</translation>
    </message>
    <message>
        <source>Nejvýše řádků</source>
        <translation>Maximum lines</translation>
    </message>
    <message>
        <source>Log se nepodařilo uložit do souboru „%1“: %2</source>
        <translation>The log could not be saved to the file “%1”: %2</translation>
    </message>
</context>
<context>
    <name>zorvid::TfCommParams</name>
    <message>
        <source>Adresa a rychlost</source>
        <translation>Address and speed</translation>
    </message>
    <message>
        <source>Nyní:</source>
        <translation>Current:</translation>
    </message>
    <message>
        <source>Nová &amp;adresa:</source>
        <translation>New &amp;address:</translation>
    </message>
    <message>
        <source>Nová &amp;rychlost [Bd]:</source>
        <translation>New &amp;speed [Bd]:</translation>
    </message>
    <message>
        <source>Po zápisu displej odpovídá jen na nové adrese a rychlosti; program se k němu na nich znovu připojí. Když se to nepodaří, zůstane na původních.</source>
        <translation>After the write the display answers only at the new address and speed; the program reconnects to it there. If that fails, it stays at the old ones.</translation>
    </message>
    <message>
        <source>&amp;Zapsat</source>
        <translation>&amp;Write</translation>
    </message>
    <message>
        <source>Zruši&amp;t</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>Rychlost linky TCP nastavuje převodník; zde ji nelze změnit.</source>
        <translation>The speed of a TCP line is set by its converter; it cannot be changed here.</translation>
    </message>
</context>
<context>
    <name>zorvid::TfConnectionDialog</name>
    <message>
        <source>%1, adresa %2</source>
        <translation>%1, address %2</translation>
    </message>
    <message>
        <source>Nastavení připojení</source>
        <translation>Connection settings</translation>
    </message>
    <message>
        <source>&amp;Nedávná připojení:</source>
        <translation>Recent &amp;connections:</translation>
    </message>
    <message>
        <source>&amp;Adresa:</source>
        <translation>&amp;Address:</translation>
    </message>
    <message>
        <source>&amp;Sériový port:</source>
        <translation>&amp;Serial port:</translation>
    </message>
    <message>
        <source>Číslo portu &amp;RS232/485:</source>
        <translation>RS232/485 port &amp;number:</translation>
    </message>
    <message>
        <source>&amp;Obnovit</source>
        <translation>&amp;Refresh</translation>
    </message>
    <message>
        <source>&amp;Jiné zařízení:</source>
        <translation>&amp;Other port:</translation>
    </message>
    <message>
        <source>Ko&amp;munikační rychlost [Bd]:</source>
        <translation>Spee&amp;d [Bd]:</translation>
    </message>
    <message>
        <source>&amp;USB:</source>
        <translation>&amp;USB:</translation>
    </message>
    <message>
        <source>&amp;Zařízení:</source>
        <translation>Brid&amp;ge:</translation>
    </message>
    <message>
        <source>Sério&amp;vé číslo:</source>
        <translation>Serial nu&amp;mber:</translation>
    </message>
    <message>
        <source>O&amp;bnovit</source>
        <translation>Refres&amp;h</translation>
    </message>
    <message>
        <source>Komunikační r&amp;ychlost [Bd]:</source>
        <translation>Speed [&amp;Bd]:</translation>
    </message>
    <message>
        <source>&amp;Ethernet:</source>
        <translation>&amp;Ethernet:</translation>
    </message>
    <message>
        <source>&amp;IP adresa:</source>
        <translation>&amp;IP address:</translation>
    </message>
    <message>
        <source>&amp;Datový port:</source>
        <translation>Data &amp;port:</translation>
    </message>
    <message>
        <source>&amp;Pro pokročilé</source>
        <translation>Ad&amp;vanced</translation>
    </message>
    <message>
        <source>Najít disp&amp;leje…</source>
        <translation>&amp;Find displays…</translation>
    </message>
    <message>
        <source>O&amp;k</source>
        <translation>O&amp;K</translation>
    </message>
    <message>
        <source>Zruši&amp;t</source>
        <translation>Cance&amp;l</translation>
    </message>
    <message>
        <source>žádná</source>
        <translation>none</translation>
    </message>
    <message>
        <source>vyberte…</source>
        <translation>choose…</translation>
    </message>
</context>
<context>
    <name>zorvid::TfDisplaySearch</name>
    <message>
        <source>Najít displeje</source>
        <translation>Find displays</translation>
    </message>
    <message>
        <source>Adresa</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Rychlost</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>Identifikace</source>
        <translation>Identification</translation>
    </message>
    <message>
        <source>Dvojklikem vyberete displej pro připojení.</source>
        <translation>Double-click a display to connect to it.</translation>
    </message>
    <message>
        <source>&amp;Hledat</source>
        <translation>&amp;Search</translation>
    </message>
    <message>
        <source>&amp;Zastavit</source>
        <translation>S&amp;top</translation>
    </message>
    <message>
        <source>Za&amp;vřít</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>&amp;Rychlosti</source>
        <translation>S&amp;peeds</translation>
    </message>
    <message>
        <source>Linka TCP se prohledá jednou.</source>
        <translation>A TCP line is searched once.</translation>
    </message>
    <message>
        <source>Zaškrtněte alespoň jednu rychlost.</source>
        <translation>Tick at least one speed.</translation>
    </message>
    <message>
        <source>Hledám…</source>
        <translation>Searching…</translation>
    </message>
    <message>
        <source>všechny adresy (0xFE)</source>
        <translation>broadcast address (0xFE)</translation>
    </message>
    <message>
        <source>Adresa %1, %2</source>
        <translation>Address %1, %2</translation>
    </message>
    <message>
        <source>Adresa %1</source>
        <translation>Address %1</translation>
    </message>
    <message>
        <source>Hledání zastaveno; nalezeno displejů: %1.</source>
        <translation>Search stopped; displays found: %1.</translation>
    </message>
    <message>
        <source>Hledání skončilo; nalezeno displejů: %1.</source>
        <translation>Search finished; displays found: %1.</translation>
    </message>
    <message>
        <source>%1 Chyba: %2</source>
        <translation>%1 Error: %2</translation>
    </message>
</context>
<context>
    <name>zorvid::TfMain</name>
    <message>
        <source>Hodnota</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>jas</source>
        <translation>brightness</translation>
    </message>
    <message>
        <source>minimální jas</source>
        <translation>minimum brightness</translation>
    </message>
    <message>
        <source>maximální jas</source>
        <translation>maximum brightness</translation>
    </message>
    <message>
        <source>zvýšení osvětlení</source>
        <translation>sensor light reading boost</translation>
    </message>
    <message>
        <source>časový posun</source>
        <translation>time offset</translation>
    </message>
    <message>
        <source>index zóny</source>
        <translation>zone index</translation>
    </message>
    <message>
        <source>platnost dat</source>
        <translation>data expiry</translation>
    </message>
    <message>
        <source>rok</source>
        <translation>year</translation>
    </message>
    <message>
        <source>počet bajtů segmentů</source>
        <translation>number of segment bytes</translation>
    </message>
    <message>
        <source>automatické přepínání času</source>
        <translation>automatic time switching</translation>
    </message>
    <message>
        <source>letní čas</source>
        <translation>summer time</translation>
    </message>
    <message>
        <source>zobrazit info. po zapnutí displeje</source>
        <translation>show info after the display is switched on</translation>
    </message>
    <message>
        <source>zobrazit info. po vypršení platnosti dat</source>
        <translation>show info after the data expire</translation>
    </message>
    <message>
        <source>12 hodinový formát času</source>
        <translation>12-hour time format</translation>
    </message>
    <message>
        <source>formát data měsíc/den/rok</source>
        <translation>date format month/day/year</translation>
    </message>
    <message>
        <source>rotovat čas</source>
        <translation>rotate the time</translation>
    </message>
    <message>
        <source>rotovat datum</source>
        <translation>rotate the date</translation>
    </message>
    <message>
        <source>rotovat teplotu</source>
        <translation>rotate the temperature</translation>
    </message>
    <message>
        <source>automatický jas</source>
        <translation>automatic brightness</translation>
    </message>
    <message>
        <source>automatický jas zapnut</source>
        <translation>automatic brightness on</translation>
    </message>
    <message>
        <source>parametry zobrazení</source>
        <translation>date-time parameters</translation>
    </message>
    <message>
        <source>Displej</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>Zobrazení dat</source>
        <translation>Data display</translation>
    </message>
    <message>
        <source>Ostatní</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>&amp;O programu</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>&amp;Navázat spojení</source>
        <translation>C&amp;onnect</translation>
    </message>
    <message>
        <source>Z&amp;rušit spojení</source>
        <translation>&amp;Disconnect</translation>
    </message>
    <message>
        <source>&amp;Soubor</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>Uložit do souboru…</source>
        <translation>Save to file…</translation>
    </message>
    <message>
        <source>Načíst ze souboru…</source>
        <translation>Load from file…</translation>
    </message>
    <message>
        <source>&amp;Zavřít</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>Nastavení (*.json)</source>
        <translation>Settings (*.json)</translation>
    </message>
    <message>
        <source>Nastavení (*.json);;Vše (*)</source>
        <translation>Settings (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>Důvod: %1</source>
        <translation>Reason: %1</translation>
    </message>
    <message>
        <source>adresa</source>
        <translation>address</translation>
    </message>
    <message>
        <source>identifikace</source>
        <translation>identification</translation>
    </message>
    <message>
        <source>text displeje</source>
        <translation>display text</translation>
    </message>
    <message>
        <source>segmenty</source>
        <translation>segments</translation>
    </message>
    <message>
        <source>datum a čas</source>
        <translation>date and time</translation>
    </message>
    <message>
        <source>teplota</source>
        <translation>temperature</translation>
    </message>
    <message>
        <source>adresa a rychlost</source>
        <translation>address and speed</translation>
    </message>
    <message>
        <source>identifikátory</source>
        <translation>identifiers</translation>
    </message>
    <message>
        <source>aktuální informace</source>
        <translation>current information</translation>
    </message>
    <message>
        <source>požadavek</source>
        <translation>request</translation>
    </message>
    <message>
        <source>hotovo</source>
        <translation>done</translation>
    </message>
    <message>
        <source>displej odmítl (potvrzení %1)</source>
        <translation>refused (acknowledge %1)</translation>
    </message>
    <message>
        <source>displej neodpovídá</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>odpověď přišla poškozená</source>
        <translation>damaged answer</translation>
    </message>
    <message>
        <source>neplatná hodnota %1</source>
        <translation>invalid answer: %1</translation>
    </message>
    <message>
        <source>neplatná odpověď</source>
        <translation>invalid answer</translation>
    </message>
    <message>
        <source>spojení bylo přerušeno</source>
        <translation>the connection was lost</translation>
    </message>
    <message>
        <source>nenahráno z tohoto displeje</source>
        <translation>not loaded from this display</translation>
    </message>
    <message>
        <source>odpověď se ztratila</source>
        <translation>the answer was lost</translation>
    </message>
    <message>
        <source>nic neodesláno, neplatná hodnota %1</source>
        <translation>nothing sent, invalid value %1</translation>
    </message>
    <message>
        <source>nic neodesláno</source>
        <translation>nothing sent</translation>
    </message>
    <message>
        <source>ano</source>
        <translation>yes</translation>
    </message>
    <message>
        <source>ne</source>
        <translation>no</translation>
    </message>
    <message>
        <source>%1 (odesláno %2, přečteno %3)</source>
        <translation>%1 (sent %2, read %3)</translation>
    </message>
    <message>
        <source>%1 %2 (povoleno %3..%4)</source>
        <translation>%1 %2 (allowed %3..%4)</translation>
    </message>
    <message>
        <source>zápis – %1</source>
        <translation>write – %1</translation>
    </message>
    <message>
        <source>čtení – %1</source>
        <translation>read – %1</translation>
    </message>
    <message>
        <source>Krok: %1, adresa %2</source>
        <translation>Step: %1, address %2</translation>
    </message>
    <message>
        <source>, pokusů: %1</source>
        <translation>, tries: %1</translation>
    </message>
    <message>
        <source>povolení konfigurace</source>
        <translation>enabling the configuration</translation>
    </message>
</context>
<context>
    <name>zorvid::TfSerialSetupDialog</name>
    <message>
        <source>Nastavení portu %1</source>
        <translation>Port %1 settings</translation>
    </message>
    <message>
        <source>Žádná</source>
        <translation>None</translation>
    </message>
    <message>
        <source>Lichá</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>Sudá</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>Značka</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>Mezera</source>
        <translation>Space</translation>
    </message>
    <message>
        <source>1,5</source>
        <translation>1.5</translation>
    </message>
    <message>
        <source>Žádné</source>
        <translation>None</translation>
    </message>
    <message>
        <source>Hardware (RTS/CTS)</source>
        <translation>Hardware (RTS/CTS)</translation>
    </message>
    <message>
        <source>&amp;Bity za sekundu:</source>
        <translation>Sp&amp;eed [Bd]:</translation>
    </message>
    <message>
        <source>&amp;Datové bity:</source>
        <translation>&amp;Data bits:</translation>
    </message>
    <message>
        <source>&amp;Parita:</source>
        <translation>&amp;Parity:</translation>
    </message>
    <message>
        <source>&amp;Stop bity:</source>
        <translation>&amp;Stop bits:</translation>
    </message>
    <message>
        <source>Ří&amp;zení toku:</source>
        <translation>&amp;Flow control:</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Zruši&amp;t</source>
        <translation>&amp;Cancel</translation>
    </message>
</context>
<context>
    <name>zorvid::TfSettingsDifferences</name>
    <message>
        <source>Nastavení ze souboru</source>
        <translation>Settings from a file</translation>
    </message>
    <message>
        <source>Nastavení</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>V souboru</source>
        <translation>In the file</translation>
    </message>
    <message>
        <source>V zařízení</source>
        <translation>On the display</translation>
    </message>
    <message>
        <source>&amp;Zapsat do zařízení</source>
        <translation>&amp;Write to the display</translation>
    </message>
    <message>
        <source>Zruši&amp;t</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>Zápis souboru %1 změní v zařízení:</source>
        <translation>Writing the file %1 changes on the display:</translation>
    </message>
    <message>
        <source>Soubor %1 se shoduje se zařízením.</source>
        <translation>The file %1 matches the display.</translation>
    </message>
    <message>
        <source>Zařízení nemá a nezapíše se: %1</source>
        <translation>Not on the display and not written: %1</translation>
    </message>
    <message>
        <source>Za&amp;vřít</source>
        <translation>&amp;Close</translation>
    </message>
</context>
</TS>
