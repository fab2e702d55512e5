// The usage text of "-h". Its wording and layout are what users and scripts know;
// keep it byte for byte.
#include "app/command_line.h"

namespace tallowick::app {

std::string_view usage_text() {
    static constexpr std::string_view text =
R"(-h                  help
-l                   use logfile [file]
-r                   use report config [file]
-d or -o             destination directory/filename.html
-q                   quiet no output at all
-q1                  quiet no status
-ver                 version
--------- Reporting options
+alldates            process all dates
-sdate               set start date [DD/MM/YY]
-edate               set end date [DD/MM/YY]
+dns                 perform dns on CLIENT IPs
+dnsCache            perform dns on CLIENT IPs from cache
-dnsAmount           number of max lookups
-ignoreself          ignore referals pointing back to your self
-ignorebookmark      ignore bookmark referals or file:// referals
-ignorecase          ignore case for all urls/files
-ignoreipvhosts      ignore virtualhosts IPs
-ignoreusernames     Dont use usernames as for clients
-f0                  DONT filter out zero byte files
+f0                  filter out zero byte files
-sort                sort by [name | byte | reqs | page]
-language            language output type (1=German,2=Italian,3=French,4=Spanish,5=Swedish,6=Norw,7=Danish,8=Dutch,9=Japan)
		(or you can pass the name of the language)
-siteurl             specify the name of the host that is localhost to the log file
-indexfile           specify the default server index file (ie index.html)
-usecgi              accept cgi parameters
-filterurlcase       ignore case for all URL filters
-filterclientcase    ignore case for all CLIENT filters
-filterreferalcase   ignore case for all Referal filters
-filteragentcase     ignore case for all Agent filters
-filterurl           add a URL/FILE filter keyword (can begin with ! to exclude)
-filterclient        add a CLIENT filter keyword (can begin with ! to exclude)
-filtersource        add a SOURCE filter keyword (can begin with ! to exclude)
-filterbrowser       add a BROWSER filter keyword (can begin with ! to exclude)
-filterreferal       add a REFERAL filter keyword (can begin with ! to exclude)
-filterorlogic       User OR logic for all filters types
-internalnetwork     add a internet network ip filter (router only)
-orgmap              add a organization map (*.com.*=Commercial)
-groupdir            add a directory group map (/images/*=ServerImages)
-graphsort           axis by [main | byte | reqs | both]
-style               use graph style [3d/2d]
-webpalette          use 256 netscape colors in all images
-wider               draw wider format graphs
-forceddmm           force DD/MM on W3C log files
-statdepth           number of items to show in stats table
-dollar              specify the Dollars per meg being charged for traffic (eg 0.15)
-sessiontime         specify the length in minutes of non activity that defines a new session
-checkschedule       check the internal schedule list to decide processing times
-timestat            include time processing information in report
-notimestat          dont include time processing information in report
-bandwidth           include bandwidth information in report
-nobandwidth         dont include bandwidth information in report
-headtitle           include log name in report header
-remotelogin_port    remote login port for ServerMode (911 = default)
-remotelogin_pass    remote login password (required, no default)
-remoteloginon       activate remote login
-daemon              run as a server using above details
-remotelogin_addr    address remote login listens on (127.0.0.1 = default)
-http                serve the report over HTTP on -http_port (800 = default)
-connect             connect to a remote server [host[:port]]
-send                command for the remote server (after -connect)
-sendfile            settings file for the remote server (after -connect)
-hitpattern          set advert hitpattern string
-clickpattern        set advert clickpattern string
-multidomains        process multiple log files as multipledomains and not combined report
-multimonths         Process a log file and generate a report for every month
-multiweeks          Process a log file and generate a report for every week
-multitopdirs        Process a log file and generate a report for every top level directory
-multitop2dirs       Process a log file and generate a report for every second level directory
-multivhosts         process a log file and extact virtual host info to create a host-by-host report
-sequencedir         for all virtual hosts, use a squencial numbered directory instead of its name
-vdsortby            sort the virtual host list in order of [name | byte | reqs | page | date]
-streaming           streaming mode that enhances memory usage by keeping only recent data
-daemontime          number of seconds between new reports
-daemonrehash        number of outputs until a total rehash of report
-editpath {site} {dir}        : add a virtual host mapping dir, so {site} goes into {dir}
-vhostmap {pattern}={newhostname}        : remap a patterned vhost into a new vhost name or identity
+graph               graph flags on [daily/hourly/weekly/weekdays/monthly/
                        region/country/client/file/browser/browservsos/opersys/
                        refer/refersite/referhistory/filetype/dir/groupdir/topdir/download/
                        seconddomain/errors/errorurl/pages/search/searchengine/
                        ascii/clienthistory/pagehistory/sessiondist/advert/robot/circulation/loyalty/timeon
                        downloadhistory/errorurlhistory/topdirhistory/govthistory]
or -graph with above
+stat                stats flags on [daily/hourly/weekly/weekdays/monthly/
                        region/country/client/file/browser/opersys/
                        refer/refersite/filetype/dir/groupdir/topdir/download/
                        seconddomain/errors/errorurl/pages/search/searchengine/govthistory
                        clientstream/advert/meanpath/robot/circulation/loyalty/timeon]
or -stat with above
-head                file to use for HTML header
-foot                file to use for HTML footer
--------- Scheduler and service
-schedule list       list the scheduled jobs
-schedule add {logs} {settings file} [start YYYY-MM-DD [HH:MM]] [every {n} mins|hrs|days|months|years] [sendto {dest}] [on]
-schedule on|off|remove {n}     enable, disable or remove job n (remove 0 = all)
-i / -u              install / remove the scheduler service (systemd unit)
-nts / -nte          start / stop the scheduler service
-ntv                 service version and whether it is installed
-ntservice           run the scheduler service in the foreground
)";
    return text;
}

std::string version_line() { return "Tallowick Version 3.6 (Linux)"; }

}  // namespace tallowick::app
