/*
 * fernhall-webhost: shows the page in a WebKitGTK view inside a GtkPlug, for the
 * application to embed into its window through XEmbed.
 *
 * Usage: fernhall-webhost <socket fd>
 *
 * The application and this program talk over a stream socket, one message a line,
 * fields separated by single spaces, texts in standard base64:
 *   to the application:  PLUG <xid>                      the plug to embed
 *                        GET <req> <b64 path+query>      a page file is wanted
 *                        CALL <b64 json>                 a native call {id, name, args}
 *                        LOADED                          the page has finished loading
 *   from the application: LOAD <b64 url>
 *                        RES <req> <status> <b64 mime> <b64 body>
 *                        RET <id> <0|1> <b64 json>       the answer to call <id>; an
 *                                                        empty json means no value
 * The program ends when the socket closes or its parent dies.
 */
#include <gtk/gtk.h>
#include <gtk/gtkx.h>
#include <webkit2/webkit2.h>

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#define SCHEME "tarvo"
#define ROOT "tarvo://app"
#define MAX_LINE (64u * 1024u * 1024u)

static int sock = -1;
static GString* inbuf;
static WebKitWebView* view;
static GHashTable* pending; /* request number -> WebKitURISchemeRequest */
static guint64 nextRequest = 1;

static void send_line (const char* line)
{
    size_t len = strlen (line);
    while (len > 0)
    {
        ssize_t n = send (sock, line, len, MSG_NOSIGNAL);
        if (n < 0)
        {
            if (errno == EINTR) continue;
            gtk_main_quit();
            return;
        }
        line += n;
        len -= (size_t) n;
    }
    if (send (sock, "\n", 1, MSG_NOSIGNAL) < 0)
        gtk_main_quit();
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

static void on_scheme_request (WebKitURISchemeRequest* request, gpointer data)
{
    const char* uri = webkit_uri_scheme_request_get_uri (request);
    const char* path = "/";
    if (g_str_has_prefix (uri, ROOT))
        path = uri + strlen (ROOT);
    if (*path == '\0')
        path = "/";

    guint64 id = nextRequest++;
    g_hash_table_insert (pending, g_memdup2 (&id, sizeof id), g_object_ref (request));

    gchar num[32];
    g_snprintf (num, sizeof num, "%" G_GUINT64_FORMAT, id);
    send_b64 ("GET", num, (const guchar*) path, strlen (path));
}

static void answer_request (guint64 id, int status, const char* mime, GBytes* body)
{
    WebKitURISchemeRequest* request = g_hash_table_lookup (pending, &id);
    if (request == NULL)
        return;

    GInputStream* stream = g_memory_input_stream_new_from_bytes (body);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new (stream, (gint64) g_bytes_get_size (body));
    webkit_uri_scheme_response_set_status (response, (guint) status, status == 200 ? "OK" : "Not Found");
    webkit_uri_scheme_response_set_content_type (response, mime);
    SoupMessageHeaders* headers = soup_message_headers_new (SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append (headers, "Cache-Control", "no-store");
    soup_message_headers_append (headers, "Access-Control-Allow-Origin", "*");
    webkit_uri_scheme_response_set_http_headers (response, headers);
    webkit_uri_scheme_request_finish_with_response (request, response);
    g_object_unref (response);
    g_object_unref (stream);
    g_hash_table_remove (pending, &id);
}

static void on_script_message (WebKitUserContentManager* manager, WebKitJavascriptResult* result, gpointer data)
{
    JSCValue* value = webkit_javascript_result_get_js_value (result);
    if (!jsc_value_is_string (value))
        return;
    gchar* text = jsc_value_to_string (value);
    send_b64 ("CALL", NULL, (const guchar*) text, strlen (text));
    g_free (text);
}

static void on_load_changed (WebKitWebView* v, WebKitLoadEvent event, gpointer data)
{
    if (event == WEBKIT_LOAD_FINISHED)
        send_line ("LOADED");
}

static gchar* decode_text (const char* b64)
{
    gsize n = 0;
    guchar* raw = g_base64_decode (b64, &n);
    gchar* text = g_strndup ((const gchar*) raw, n);
    g_free (raw);
    return text;
}

static void handle_line (char* line)
{
    gchar** parts = g_strsplit (line, " ", 5);
    guint count = g_strv_length (parts);

    if (count == 2 && strcmp (parts[0], "LOAD") == 0)
    {
        gchar* url = decode_text (parts[1]);
        webkit_web_view_load_uri (view, url);
        g_free (url);
    }
    else if (count >= 4 && strcmp (parts[0], "RES") == 0)
    {
        guint64 id = g_ascii_strtoull (parts[1], NULL, 10);
        int status = atoi (parts[2]);
        gchar* mime = decode_text (parts[3]);
        gsize n = 0;
        guchar* body = count == 5 ? g_base64_decode (parts[4], &n) : NULL;
        GBytes* bytes = g_bytes_new_take (body, n);
        answer_request (id, status, mime, bytes);
        g_bytes_unref (bytes);
        g_free (mime);
    }
    else if (count >= 3 && strcmp (parts[0], "RET") == 0)
    {
        gint64 id = g_ascii_strtoll (parts[1], NULL, 10);
        gboolean ok = strcmp (parts[2], "1") == 0;
        gchar* json = count >= 4 ? decode_text (parts[3]) : g_strdup ("");
        gchar* script = g_strdup_printf ("window.__tarvoNative && window.__tarvoNative.complete(%" G_GINT64_FORMAT ", %s, %s);",
                                         id, ok ? "true" : "false", json[0] != '\0' ? json : "undefined");
        webkit_web_view_evaluate_javascript (view, script, -1, NULL, NULL, NULL, NULL, NULL);
        g_free (script);
        g_free (json);
    }
    g_strfreev (parts);
}

static gboolean on_socket (GIOChannel* channel, GIOCondition condition, gpointer data)
{
    char buffer[65536];
    ssize_t n = recv (sock, buffer, sizeof buffer, 0);
    if (n <= 0)
    {
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return TRUE;
        gtk_main_quit();
        return FALSE;
    }
    g_string_append_len (inbuf, buffer, n);

    for (;;)
    {
        char* nl = memchr (inbuf->str, '\n', inbuf->len);
        if (nl == NULL)
            break;
        *nl = '\0';
        handle_line (inbuf->str);
        g_string_erase (inbuf, 0, (gssize) (nl - inbuf->str) + 1);
    }
    if (inbuf->len > MAX_LINE) /* a runaway line: drop it */
        g_string_truncate (inbuf, 0);
    return TRUE;
}

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        fprintf (stderr, "usage: fernhall-webhost <socket fd>\n");
        return 2;
    }
    sock = atoi (argv[1]);
    prctl (PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1)
        return 0;

    gtk_init (&argc, &argv);
    inbuf = g_string_new (NULL);
    pending = g_hash_table_new_full (g_int64_hash, g_int64_equal, g_free, g_object_unref);

    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_register_uri_scheme (context, SCHEME, on_scheme_request, NULL, NULL);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager (context);
    webkit_security_manager_register_uri_scheme_as_secure (security, SCHEME);
    webkit_security_manager_register_uri_scheme_as_cors_enabled (security, SCHEME);

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    g_signal_connect (content, "script-message-received::tarvoNative", G_CALLBACK (on_script_message), NULL);
    webkit_user_content_manager_register_script_message_handler (content, "tarvoNative");

    view = WEBKIT_WEB_VIEW (webkit_web_view_new_with_user_content_manager (content));
    WebKitSettings* settings = webkit_web_view_get_settings (view);
    webkit_settings_set_hardware_acceleration_policy (settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_developer_extras (settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures (settings, FALSE);

    /* Until the page paints, the view shows the window's own light grey. */
    GdkRGBA grey = { 227 / 255.0, 229 / 255.0, 232 / 255.0, 1.0 };
    webkit_web_view_set_background_color (view, &grey);
    g_signal_connect (view, "load-changed", G_CALLBACK (on_load_changed), NULL);

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
