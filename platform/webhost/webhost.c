/*
 * fernhall-webhost: shows the page in a WebKitGTK view inside a GtkPlug, for the
 * application to embed into its window through XEmbed.
 *
 * Usage: fernhall-webhost <socket fd> <parent pid> <native calls: 1|0>
 *
 * The application and this program talk over a stream socket, one message a line,
 * fields separated by single spaces, texts in standard base64, numbers in decimal:
 *   to the application:   PLUG <xid>                       the plug to embed
 *                         GET <req> <b64 path+query>       a page file is wanted
 *                         CALL <page> <b64 json>           a native call {id, name, args}
 *                         LOADED                           the page has finished loading
 *   from the application: LOAD <b64 url>
 *                         RES <req> <status> <b64 mime> <b64 body>
 *                         RET <page> <id> <0|1> <b64 json> the answer to call <id>; an
 *                                                          empty json means no value
 * <page> counts the pages this view has shown; answers meant for an earlier page are
 * dropped, so a kept answer can never resolve a call of a newer page with the same id.
 *
 * Only pages under the application's own address may call native functions, and the
 * view navigates nowhere else except to an address the application loads itself.
 *
 * Output to the application is queued and written when the socket is writable, so
 * the view never blocks on a busy application. The program ends when the socket
 * closes or its parent dies.
 */
#include <gtk/gtk.h>
#include <gtk/gtkx.h>
#include <webkit2/webkit2.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#define SCHEME "tarvo"
#define ROOT "tarvo://app/"
/* Lines from the application: a whole page file, base64 (its limit is 64 MiB raw). */
#define MAX_IN_LINE (96u * 1024u * 1024u)
/* A call document from the page (the page-side bridge refuses larger ones itself). */
#define MAX_CALL (4u * 1024u * 1024u)

static int sock = -1;
static gboolean native_calls = TRUE;
static GString* inbuf;
static gboolean discarding;   /* inside an over-long line */
static GString* outbuf;
static guint out_watch;
static WebKitWebView* view;
static GHashTable* pending;   /* request number -> WebKitURISchemeRequest */
static guint64 next_request = 1;
static guint64 page_number;   /* counts committed loads */
static gchar* loaded_by_app;  /* the address the application asked for last */

static void quit (void)
{
    gtk_main_quit();
}

static gboolean flush_out (GIOChannel* channel, GIOCondition condition, gpointer data)
{
    while (outbuf->len > 0)
    {
        ssize_t n = send (sock, outbuf->str, outbuf->len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0)
        {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return TRUE;
            quit();
            out_watch = 0;
            return FALSE;
        }
        g_string_erase (outbuf, 0, n);
    }
    out_watch = 0;
    return FALSE;
}

static void send_line (const char* line)
{
    g_string_append (outbuf, line);
    g_string_append_c (outbuf, '\n');
    if (out_watch == 0)
    {
        GIOChannel* channel = g_io_channel_unix_new (sock);
        out_watch = g_io_add_watch (channel, G_IO_OUT | G_IO_ERR | G_IO_HUP, flush_out, NULL);
        g_io_channel_unref (channel);
    }
}

static void send_b64 (const char* verb, const char* extra, const guchar* data, gsize size)
{
    gchar* b64 = g_base64_encode (data, size);
    gchar* line = extra != NULL ? g_strdup_printf ("%s %s %s", verb, extra, b64)
                                : g_strdup_printf ("%s %s", verb, b64);
    send_line (line);
    g_free (line);
    g_free (b64);
}

static gboolean is_decimal (const char* s)
{
    if (s == NULL || *s == '\0' || strlen (s) > 19)
        return FALSE;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return FALSE;
    return TRUE;
}

static gboolean is_base64 (const char* s)
{
    size_t n = strlen (s);
    if (n % 4 != 0)
        return FALSE;
    for (size_t i = 0; i < n; ++i)
    {
        char c = s[i];
        if (g_ascii_isalnum (c) || c == '+' || c == '/')
            continue;
        if (c == '=' && i + 2 >= n && (i + 1 == n || s[i + 1] == '='))
            continue;
        return FALSE;
    }
    return TRUE;
}

static gboolean is_app_address (const char* uri)
{
    return uri != NULL && g_str_has_prefix (uri, ROOT);
}

static void finish_request (WebKitURISchemeRequest* request, int status, const char* mime, GBytes* body)
{
    GInputStream* stream = g_memory_input_stream_new_from_bytes (body);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new (stream, (gint64) g_bytes_get_size (body));
    webkit_uri_scheme_response_set_status (response, (guint) status,
                                           status == 200 ? "OK" : status == 404 ? "Not Found" : "Error");
    webkit_uri_scheme_response_set_content_type (response, mime);
    SoupMessageHeaders* headers = soup_message_headers_new (SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append (headers, "Cache-Control", "no-store");
    webkit_uri_scheme_response_set_http_headers (response, headers);
    webkit_uri_scheme_request_finish_with_response (request, response);
    g_object_unref (response);
    g_object_unref (stream);
}

static void on_scheme_request (WebKitURISchemeRequest* request, gpointer data)
{
    const char* uri = webkit_uri_scheme_request_get_uri (request);
    if (! is_app_address (uri))
    {
        GBytes* empty = g_bytes_new (NULL, 0);
        finish_request (request, 404, "text/plain", empty);
        g_bytes_unref (empty);
        return;
    }

    const char* path = uri + strlen (ROOT) - 1;   /* keeps the leading "/" */
    guint64 id = next_request++;
    g_hash_table_insert (pending, g_memdup2 (&id, sizeof id), g_object_ref (request));

    gchar num[32];
    g_snprintf (num, sizeof num, "%" G_GUINT64_FORMAT, id);
    send_b64 ("GET", num, (const guchar*) path, strlen (path));
}

static void on_script_message (WebKitUserContentManager* manager, WebKitJavascriptResult* result, gpointer data)
{
    if (! native_calls || ! is_app_address (webkit_web_view_get_uri (view)))
        return;
    JSCValue* value = webkit_javascript_result_get_js_value (result);
    if (! jsc_value_is_string (value))
        return;
    gchar* text = jsc_value_to_string (value);
    size_t len = strlen (text);
    if (len <= MAX_CALL)
    {
        gchar num[32];
        g_snprintf (num, sizeof num, "%" G_GUINT64_FORMAT, page_number);
        send_b64 ("CALL", num, (const guchar*) text, len);
    }
    g_free (text);
}

static void on_load_changed (WebKitWebView* v, WebKitLoadEvent event, gpointer data)
{
    if (event == WEBKIT_LOAD_COMMITTED)
        ++page_number;
    else if (event == WEBKIT_LOAD_FINISHED)
        send_line ("LOADED");
}

static gboolean on_decide_policy (WebKitWebView* v, WebKitPolicyDecision* decision,
                                  WebKitPolicyDecisionType type, gpointer data)
{
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
    {
        webkit_policy_decision_ignore (decision);
        return TRUE;
    }
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION)
    {
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action (WEBKIT_NAVIGATION_POLICY_DECISION (decision));
        const char* uri = webkit_uri_request_get_uri (webkit_navigation_action_get_request (action));
        if (! is_app_address (uri) && ! (loaded_by_app != NULL && uri != NULL && strcmp (uri, loaded_by_app) == 0))
        {
            webkit_policy_decision_ignore (decision);
            return TRUE;
        }
    }
    return FALSE;
}

/* A JavaScript string literal holding `text` (UTF-8), every character that could end
 * or bend it escaped. */
static gchar* js_string (const char* text)
{
    GString* s = g_string_new ("\"");
    for (const unsigned char* p = (const unsigned char*) text; *p; ++p)
    {
        unsigned char c = *p;
        if (c == '"' || c == '\\') { g_string_append_c (s, '\\'); g_string_append_c (s, (char) c); }
        else if (c < 0x20 || c == 0x7f) g_string_append_printf (s, "\\u%04x", c);
        else if (c == 0xe2 && p[1] == 0x80 && (p[2] == 0xa8 || p[2] == 0xa9))
        {
            g_string_append (s, p[2] == 0xa8 ? "\\u2028" : "\\u2029");
            p += 2;
        }
        else g_string_append_c (s, (char) c);
    }
    g_string_append_c (s, '"');
    return g_string_free (s, FALSE);
}

static gchar* decode_text (const char* b64)
{
    gsize n = 0;
    guchar* raw = g_base64_decode (b64, &n);
    gchar* text = g_strndup ((const gchar*) raw, n);   /* stops at an embedded NUL */
    g_free (raw);
    return text;
}

static void handle_line (char* line)
{
    gchar** parts = g_strsplit (line, " ", 6);
    guint count = g_strv_length (parts);

    if (count == 2 && strcmp (parts[0], "LOAD") == 0 && is_base64 (parts[1]))
    {
        g_free (loaded_by_app);
        loaded_by_app = decode_text (parts[1]);
        webkit_web_view_load_uri (view, loaded_by_app);
    }
    else if (count == 5 && strcmp (parts[0], "RES") == 0 && is_decimal (parts[1]) && is_decimal (parts[2])
             && is_base64 (parts[3]) && is_base64 (parts[4]))
    {
        guint64 id = g_ascii_strtoull (parts[1], NULL, 10);
        WebKitURISchemeRequest* request = g_hash_table_lookup (pending, &id);
        int status = atoi (parts[2]);
        if (request != NULL && status >= 100 && status <= 599)
        {
            gchar* mime = decode_text (parts[3]);
            gsize n = 0;
            guchar* body = g_base64_decode (parts[4], &n);
            GBytes* bytes = g_bytes_new_take (body, n);
            finish_request (request, status, mime[0] != '\0' ? mime : "application/octet-stream", bytes);
            g_bytes_unref (bytes);
            g_free (mime);
            g_hash_table_remove (pending, &id);
        }
    }
    else if (count == 5 && strcmp (parts[0], "RET") == 0 && is_decimal (parts[1]) && is_decimal (parts[2])
             && (strcmp (parts[3], "0") == 0 || strcmp (parts[3], "1") == 0) && is_base64 (parts[4]))
    {
        guint64 page = g_ascii_strtoull (parts[1], NULL, 10);
        if (page == page_number)
        {
            gchar* json = decode_text (parts[4]);
            gchar* literal = js_string (json);
            /* The answer is handed over as a string and parsed in the page: a value that
             * is not valid JSON rejects the call instead of breaking the script. */
            gchar* script = g_strdup_printf (
                "(function(){var n=window.__tarvoNative;if(!n)return;var t=%s,v;"
                "if(t!==''){try{v=JSON.parse(t);}catch(e){n.complete(%s,false,'The native answer could not be read');return;}}"
                "n.complete(%s,%s,v);})();",
                literal, parts[2], parts[2], strcmp (parts[3], "1") == 0 ? "true" : "false");
            webkit_web_view_evaluate_javascript (view, script, -1, NULL, NULL, NULL, NULL, NULL);
            g_free (script);
            g_free (literal);
            g_free (json);
        }
    }
    g_strfreev (parts);
}

static gboolean on_socket (GIOChannel* channel, GIOCondition condition, gpointer data)
{
    char buffer[65536];
    ssize_t n = recv (sock, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return TRUE;
    if (n <= 0)
    {
        quit();
        return FALSE;
    }

    const char* p = buffer;
    size_t left = (size_t) n;
    while (left > 0)
    {
        const char* nl = memchr (p, '\n', left);
        size_t chunk = nl != NULL ? (size_t) (nl - p) : left;
        if (! discarding)
        {
            if (inbuf->len + chunk > MAX_IN_LINE)
            {
                g_string_truncate (inbuf, 0);
                discarding = TRUE;   /* a runaway line: drop all of it */
            }
            else
            {
                g_string_append_len (inbuf, p, (gssize) chunk);
                if (nl != NULL)
                {
                    handle_line (inbuf->str);
                    g_string_truncate (inbuf, 0);
                }
            }
        }
        if (nl == NULL)
            break;
        discarding = FALSE;
        p += chunk + 1;
        left -= chunk + 1;
    }
    return TRUE;
}

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf (stderr, "usage: fernhall-webhost <socket fd> <parent pid> [<native calls: 1|0>]\n");
        return 2;
    }
    sock = atoi (argv[1]);
    const long parent = atol (argv[2]);
    native_calls = argc < 4 || strcmp (argv[3], "0") != 0;

    /* Gone with the parent, also when it dies before the socket would tell us. */
    signal (SIGTERM, SIG_DFL);   /* an ignored SIGTERM would be inherited */
    prctl (PR_SET_PDEATHSIG, SIGTERM);
    if ((long) getppid() != parent)
        return 0;
    if (fcntl (sock, F_GETFD) < 0)
        return 2;
    fcntl (sock, F_SETFD, FD_CLOEXEC);   /* not for WebKit's own processes */

    gtk_init (&argc, &argv);
    inbuf = g_string_new (NULL);
    outbuf = g_string_new (NULL);
    pending = g_hash_table_new_full (g_int64_hash, g_int64_equal, g_free, g_object_unref);

    /* Ephemeral: the view keeps no cache, cookies or storage on disk (all the
     * program keeps lives in the application's own data folder). */
    WebKitWebContext* context = webkit_web_context_new_ephemeral();
    webkit_web_context_register_uri_scheme (context, SCHEME, on_scheme_request, NULL, NULL);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager (context);
    webkit_security_manager_register_uri_scheme_as_secure (security, SCHEME);
    webkit_security_manager_register_uri_scheme_as_cors_enabled (security, SCHEME);

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    if (native_calls)
    {
        g_signal_connect (content, "script-message-received::tarvoNative", G_CALLBACK (on_script_message), NULL);
        webkit_user_content_manager_register_script_message_handler (content, "tarvoNative");
    }

    view = WEBKIT_WEB_VIEW (g_object_new (WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                          "user-content-manager", content, NULL));
    WebKitSettings* settings = webkit_web_view_get_settings (view);
    webkit_settings_set_hardware_acceleration_policy (settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_developer_extras (settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures (settings, FALSE);

    /* Until the page paints, the view and the plug show the window's own light grey. */
    GdkRGBA grey = { 227 / 255.0, 229 / 255.0, 232 / 255.0, 1.0 };
    webkit_web_view_set_background_color (view, &grey);
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data (css, "window, plug { background-color: rgb(227,229,232); }", -1, NULL);
    gtk_style_context_add_provider_for_screen (gdk_screen_get_default(), GTK_STYLE_PROVIDER (css),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    g_signal_connect (view, "load-changed", G_CALLBACK (on_load_changed), NULL);
    g_signal_connect (view, "decide-policy", G_CALLBACK (on_decide_policy), NULL);

    GtkWidget* plug = gtk_plug_new (0);
    gtk_container_add (GTK_CONTAINER (plug), GTK_WIDGET (view));
    g_signal_connect (plug, "destroy", G_CALLBACK (gtk_main_quit), NULL);
    gtk_widget_show_all (plug);

    GIOChannel* channel = g_io_channel_unix_new (sock);
    g_io_add_watch (channel, G_IO_IN | G_IO_HUP | G_IO_ERR, on_socket, NULL);

    gchar* id = g_strdup_printf ("PLUG %lu", (unsigned long) gtk_plug_get_id (GTK_PLUG (plug)));
    send_line (id);
    g_free (id);

    gtk_main();
    return 0;
}
